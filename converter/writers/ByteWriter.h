// Appending little- and big-endian integers and text to a byte vector: what
// every file writer here needs and nothing more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& out) : out_(out) {}

    size_t Size() const { return out_.size(); }
    void U8(uint32_t v) { out_.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) {
        U8(v);
        U8(v >> 8);
    }
    void U32(uint32_t v) {
        U16(v);
        U16(v >> 16);
    }
    void Zeros(size_t count) { out_.insert(out_.end(), count, 0); }
    void Bytes(const uint8_t* data, size_t count) { out_.insert(out_.end(), data, data + count); }
    void Bytes(const std::vector<uint8_t>& data) { out_.insert(out_.end(), data.begin(), data.end()); }
    void Text(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }
    // Overwrites 4 bytes written earlier, for sizes known only at the end.
    void PatchU32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }

private:
    std::vector<uint8_t>& out_;
};
