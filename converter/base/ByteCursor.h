// The one cursor the converter's own readers and parsers read a file's bytes
// with. It never reads past its end: a read beyond it gives zeros and clears
// Ok() for good, so a parser checks once after a group of reads instead of
// before each one.
#pragma once

#include <cstddef>
#include <cstdint>

// Unsigned fields at a place already checked to hold them: for parsers that
// bound a whole record first and then pick its fields.
namespace ByteOrder {
inline uint32_t Le16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
inline uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }
inline uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
}  // namespace ByteOrder

class ByteCursor {
public:
    ByteCursor(const uint8_t* data, size_t size, size_t at = 0)
        : data_(data), size_(size), at_(at > size ? size : at) {}
    // A cursor whose every read fails: what Take hands out for a range that
    // is not there.
    static ByteCursor Failed() {
        ByteCursor cursor(nullptr, 0);
        cursor.ok_ = false;
        return cursor;
    }

    bool Ok() const { return ok_; }
    size_t At() const { return at_; }
    size_t Left() const { return size_ - at_; }
    bool AtEnd() const { return at_ >= size_; }
    const uint8_t* Here() const { return data_ + at_; }

    uint32_t U8() {
        if (!ok_ || at_ >= size_) {
            ok_ = false;
            return 0;
        }
        return data_[at_++];
    }
    uint32_t U16LE() { return Le(2); }
    uint32_t U16BE() { return Be(2); }
    uint32_t U32LE() { return Le(4); }
    uint32_t U32BE() { return Be(4); }
    uint64_t Be64() {
        const uint64_t high = Be(4);
        return high << 32 | Be(4);
    }
    // An unsigned field of 1 to 4 bytes; nothing is consumed when fewer are left.
    uint32_t Le(int bytes) {
        if (!Have(bytes)) return 0;
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint32_t{data_[at_++]} << (8 * i);
        return value;
    }
    uint32_t Be(int bytes) {
        if (!Have(bytes)) return 0;
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | data_[at_++];
        return value;
    }
    // Moves on by `count` bytes; false (and not Ok) when fewer are left.
    bool Skip(uint64_t count) {
        if (!ok_ || count > Left()) {
            at_ = size_;
            ok_ = false;
            return false;
        }
        at_ += static_cast<size_t>(count);
        return true;
    }
    // The next `count` bytes as a cursor of their own, skipped over here.
    ByteCursor Take(uint64_t count) {
        if (!ok_ || count > Left()) {
            Skip(count);
            return Failed();
        }
        ByteCursor part(data_ + at_, static_cast<size_t>(count));
        at_ += static_cast<size_t>(count);
        return part;
    }

private:
    bool Have(int bytes) {
        if (ok_ && Left() >= static_cast<size_t>(bytes)) return true;
        ok_ = false;
        return false;
    }

    const uint8_t* data_;
    size_t size_;
    size_t at_;
    bool ok_ = true;
};
