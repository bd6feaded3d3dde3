#include "untMain/DropList.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

DropList::DropList(HGLOBAL block) {
    if (!block) return;
    const size_t size = GlobalSize(block);
    if (size < sizeof(DROPFILES)) return;
    const auto* bytes = static_cast<const BYTE*>(GlobalLock(block));
    if (!bytes) return;
    block_ = block;
    bytes_ = bytes;
    size_ = size;
    DROPFILES header;
    std::memcpy(&header, bytes, sizeof header);
    // The shell reads the paths from wherever pFiles points, even inside the
    // header; only an offset past the block is refused.
    position_ = header.pFiles;
    wide_ = header.fWide != FALSE;
}

DropList::~DropList() {
    if (block_) GlobalUnlock(block_);
}

bool DropList::Next(DropPath& path) {
    path = DropPath{};
    if (position_ >= size_) return false;
    const BYTE* start = bytes_ + position_;
    const size_t left = size_ - position_;
    if (!wide_) {
        const void* zero = std::memchr(start, 0, left);
        if (!zero) {
            position_ = size_;
            return false;
        }
        const size_t length = static_cast<const BYTE*>(zero) - start;
        // An empty path is the closing double zero. Wine's DragQueryFileA
        // counts the lone empty path of an empty list (and reads on past an
        // empty first path), where Windows counts none; an empty path is
        // never accepted, so the selection comes out the same.
        if (length == 0) {
            position_ = size_;
            return false;
        }
        path.narrow = std::string_view(reinterpret_cast<const char*>(start), length);
        position_ += length + 1;
        return true;
    }
    size_t units = 0;
    for (;; ++units) {
        if ((units + 1) * sizeof(WCHAR) > left) {
            position_ = size_;
            return false;
        }
        WCHAR unit;
        std::memcpy(&unit, start + units * sizeof(WCHAR), sizeof unit);
        if (unit == 0) break;
    }
    if (units == 0) {
        position_ = size_;
        return false;
    }
    if (reinterpret_cast<uintptr_t>(start) % alignof(WCHAR) == 0) {
        path.wide = std::wstring_view(reinterpret_cast<const WCHAR*>(start), units);
    } else {
        // pFiles may be odd: copy such a path where it can be read as WCHARs.
        aligned_.assign(units + 1, 0);  // the zero after the end stays
        std::memcpy(aligned_.data(), start, units * sizeof(WCHAR));
        path.wide = std::wstring_view(aligned_.data(), units);
    }
    position_ += (units + 1) * sizeof(WCHAR);
    return true;
}

size_t CutToPathLength(const char* text, size_t length) {
    if (length <= MAX_PATH) return length;
    size_t i = 0;
    while (i < MAX_PATH) {
        const size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 2 : 1;
        if (i + step > MAX_PATH) break;
        i += step;
    }
    return i;
}

size_t ShellAnsiText(const DropPath& path, PathBuffer& out) {
    if (path.wide.empty()) {
        const size_t length = std::min<size_t>(path.narrow.size(), MAX_PATH);
        if (length) std::memcpy(out, path.narrow.data(), length);
        out[length] = 0;
        return length;
    }
    // The shell cuts the wide path to 260 characters, then converts it. Three
    // bytes a character hold the result in any ANSI code page, UTF-8 included.
    const int units = static_cast<int>(std::min<size_t>(path.wide.size(), MAX_PATH));
    char converted[3 * MAX_PATH];
    const int bytes = WideCharToMultiByte(CP_ACP, 0, path.wide.data(), units, converted,
                                          sizeof converted, nullptr, nullptr);
    const size_t length = CutToPathLength(converted, bytes > 0 ? static_cast<size_t>(bytes) : 0);
    std::memcpy(out, converted, length);
    out[length] = 0;
    return length;
}
