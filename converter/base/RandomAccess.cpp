#include "converter/base/RandomAccess.h"

#include <cstring>
#include <new>

#include "converter/base/CheckedSize.h"

size_t InMemory::ReadAt(uint64_t at, uint8_t* into, size_t size) {
    if (at >= bytes_.size()) return 0;
    const uint64_t left = bytes_.size() - at;
    const size_t got = size < left ? size : static_cast<size_t>(left);
    std::memcpy(into, bytes_.data() + at, got);
    return got;
}

bool InMemory::WriteAt(uint64_t at, const uint8_t* data, size_t size) {
    size_t end = 0;
    if (!CheckedSize::Add(at, size, end)) return false;
    try {
        if (end > bytes_.size()) bytes_.resize(end);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (size > 0) std::memcpy(bytes_.data() + at, data, size);
    return true;
}

bool InMemory::Truncate(uint64_t size) {
    if (size > bytes_.size()) return false;
    bytes_.resize(static_cast<size_t>(size));
    return true;
}
