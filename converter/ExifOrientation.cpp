#include "converter/ExifOrientation.h"

#include <cstring>

namespace ExifOrientation {

namespace {

struct Tiff {
    const uint8_t* data;
    size_t size;
    bool bigEndian;

    bool U16(size_t at, uint32_t& value) const {
        if (at > size || size - at < 2) return false;
        value = bigEndian ? (data[at] << 8 | data[at + 1]) : (data[at + 1] << 8 | data[at]);
        return true;
    }
    bool U32(size_t at, uint32_t& value) const {
        uint32_t a = 0, b = 0;
        if (!U16(at, a) || !U16(at + 2, b)) return false;
        value = bigEndian ? (a << 16 | b) : (b << 16 | a);
        return true;
    }
};

}  // namespace

// The tag in the first directory of a TIFF structure (the Exif block's body).
int FromTiff(const uint8_t* data, size_t size) {
    if (size < 8) return 1;
    Tiff tiff{data, size, data[0] == 'M'};
    if (!((data[0] == 'M' && data[1] == 'M') || (data[0] == 'I' && data[1] == 'I'))) return 1;
    uint32_t magic = 0, directory = 0, count = 0;
    if (!tiff.U16(2, magic) || magic != 42 || !tiff.U32(4, directory) || !tiff.U16(directory, count)) return 1;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = static_cast<size_t>(directory) + 2 + static_cast<size_t>(i) * 12;
        uint32_t tag = 0, type = 0, values = 0, value = 0;
        if (!tiff.U16(entry, tag) || !tiff.U16(entry + 2, type) || !tiff.U32(entry + 4, values) ||
            !tiff.U16(entry + 8, value))
            return 1;
        if (tag != 0x0112) continue;
        return type == 3 && values >= 1 && value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

int Read(const uint8_t* data, size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return 1;
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return 1;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return 1;  // image data or end: no Exif before it
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length
            at += 2;
            continue;
        }
        const size_t length = static_cast<size_t>(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || size - (at + 2) < length) return 1;
        const uint8_t* body = data + at + 4;
        const size_t bodySize = length - 2;
        if (marker == 0xE1 && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0)
            return FromTiff(body + 6, bodySize - 6);
        at += 2 + length;
    }
    return 1;
}

}  // namespace ExifOrientation
