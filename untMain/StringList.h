// The selection as the list file holds it, and the path buffer of the shell's
// 8-bit API: shared by the classic extension and the Windows 11 module.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

// Ordered 8-bit strings, not sorted, duplicates kept, appended at the end.
// The entries are kept back to back in the list file's own form (each entry
// followed by CR LF), so saving the list is one write of Text() and memory
// stays close to the bytes of the paths.
class TStringList {
public:
    void Clear();
    void Add(std::string_view entry);
    size_t Count() const { return count_; }
    // Every entry followed by CR LF, in order; empty for an empty list.
    const std::string& Text() const { return text_; }
    void Swap(TStringList& other) noexcept;
    void ShrinkToFit();

private:
    std::string text_;
    size_t count_ = 0;
};

constexpr size_t PathBufferSize = MAX_PATH + 1;  // 261 bytes: a path of 260 and its zero
using PathBuffer = char[PathBufferSize];
