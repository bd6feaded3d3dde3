// The shell's CF_HDROP block read in one pass: a DROPFILES header, at pFiles
// the paths, each ended by a zero character, and one more zero after the
// last. Reading path i with DragQueryFileA walks the block from its start
// every time, which makes a large selection cost time in the square of its
// size; this reader walks it once.
#pragma once

#include <windows.h>
#include <shlobj.h>  // DROPFILES

#include <string>
#include <string_view>
#include <vector>

#include "untMain/StringList.h"

// One path of the list, exactly as it stands in the block, uncut. A narrow
// list fills `narrow`, a wide (UTF-16) list fills `wide`; the other is empty.
// `wide` is followed by a zero character, so its data() can go to the API.
struct DropPath {
    std::string_view narrow;
    std::wstring_view wide;
};

class DropList {
public:
    // Locks the block for the reader's lifetime. A null or unreadable handle,
    // or one too small for the header, reads as an empty list.
    explicit DropList(HGLOBAL block);
    ~DropList();
    DropList(const DropList&) = delete;
    DropList& operator=(const DropList&) = delete;

    bool Wide() const { return wide_; }

    // The next path, in list order; false after the last one. The list ends
    // at the first empty path (the closing double zero). Nothing is read
    // beyond the block's size: a path that runs into the block's end without
    // its zero ends the list without being handed out. The path handed out
    // stays valid until the next call.
    bool Next(DropPath& path);

private:
    HGLOBAL block_ = nullptr;
    const BYTE* bytes_ = nullptr;
    size_t size_ = 0;
    size_t position_ = 0;
    bool wide_ = false;
    // A wide path that stands at an odd offset, and its zero. A vector, not
    // a std::wstring: that would link the runtime's whole wide-string code.
    std::vector<WCHAR> aligned_;
};

// What DragQueryFileA copies for `path` into a buffer of MAX_PATH + 1 bytes:
// its first 260 characters, a wide path converted to the ANSI code page as
// the shell converts it (best-fit mappings and "?" included), zero-terminated.
// Answers the length without the zero.
size_t ShellAnsiText(const DropPath& path, PathBuffer& out);

// Cuts converted text to at most MAX_PATH bytes without splitting a
// double-byte character; answers the new length.
size_t CutToPathLength(const char* text, size_t length);
