// Puts a result next to its source (or into a chosen folder) without ever
// replacing a file: the bytes go to a hidden temporary file in the target
// folder first, marked to be deleted when its handle closes, flushed, and
// then renamed through that handle to the first free name. The rename
// refuses an existing name in one step, so two workers (or another program)
// racing for the same name cannot overwrite each other; and a process that
// dies at any point before the rename leaves no temporary file behind.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Placement {

// The most numbered names tried before giving up: "a (2).png" .. "a (9999).png".
constexpr unsigned MaxAttempts = 9999;

struct Target {
    std::wstring folder;     // without a trailing backslash
    std::wstring stem;       // the source's long name without its extension
    std::wstring tag;        // " (800x600)" for a resize, else empty
    std::wstring extension;  // with its dot
};

// Writes `bytes` and moves them into place; `placed` receives the full path
// of the result. On any failure nothing is left behind: the temporary file
// is deleted. Failure codes are the file system's, as HRESULTs
// (HRESULT_FROM_WIN32(ERROR_DISK_FULL), ..._ACCESS_DENIED, ...);
// ERROR_FILENAME_EXCED_RANGE when the result's name would be longer than a
// folder entry may be.
HRESULT Place(const Target& target, const std::vector<uint8_t>& bytes, std::wstring& placed);

// The same in steps, for a result written as it is made: the temporary
// file first, its bytes a part at a time, then the move into place. Until
// Finish succeeds the result exists under its temporary name only, and a
// Pending dropped (or abandoned) before takes it away.
class Pending {
public:
    Pending() = default;
    ~Pending() { Abandon(); }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    HRESULT Begin(const std::wstring& folder);
    // Appends, or writes where the last WriteAt or ReadAt left off.
    HRESULT Write(const uint8_t* data, size_t size);
    // For a writer that goes back in its file: writes at `at`, growing the
    // file; reads up to `size` bytes at `at` (`got` fewer at the end); the
    // file's length; cuts it to `size` bytes.
    HRESULT WriteAt(uint64_t at, const uint8_t* data, size_t size);
    HRESULT ReadAt(uint64_t at, uint8_t* into, size_t size, size_t& got);
    HRESULT Size(uint64_t& size);
    HRESULT Truncate(uint64_t size);
    // Flushes and moves the file to the first free name, as Place does.
    HRESULT Finish(const Target& target, std::wstring& placed);
    void Abandon();

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::wstring temporary_;
};

}  // namespace Placement
