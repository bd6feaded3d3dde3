#include "converter/metadata/ExifOrientation.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace ExifOrientation {

namespace {

constexpr uint32_t OrientationTag = 0x0112;
constexpr uint32_t ShortType = 3;
// More entries than any real first directory holds; a larger count is read
// only this far (the tags are sorted, and 0x0112 comes early).
constexpr uint32_t MaxEntries = 4096;

uint32_t U16(const uint8_t* at, bool bigEndian) {
    return bigEndian ? (at[0] << 8 | at[1]) : (at[1] << 8 | at[0]);
}

uint32_t U32(const uint8_t* at, bool bigEndian) {
    return bigEndian ? (U16(at, true) << 16 | U16(at + 2, true)) : (U16(at + 2, false) << 16 | U16(at, false));
}

}  // namespace

int ReadTiff(const ReadAt& readAt) {
    uint8_t header[8];
    if (readAt(0, header, sizeof header) != sizeof header) return 1;
    const bool bigEndian = header[0] == 'M';
    if (!((header[0] == 'M' && header[1] == 'M') || (header[0] == 'I' && header[1] == 'I'))) return 1;
    if (U16(header + 2, bigEndian) != 42) return 1;
    const uint64_t directory = U32(header + 4, bigEndian);
    uint8_t countBytes[2];
    if (readAt(directory, countBytes, sizeof countBytes) != sizeof countBytes) return 1;
    uint32_t count = U16(countBytes, bigEndian);
    if (count > MaxEntries) count = MaxEntries;
    std::vector<uint8_t> entries(static_cast<size_t>(count) * 12);
    // A directory cut short by the file's end still counts as far as it goes.
    const size_t got = entries.empty() ? 0 : readAt(directory + 2, entries.data(), entries.size());
    for (size_t entry = 0; entry + 12 <= got; entry += 12) {
        const uint8_t* e = entries.data() + entry;
        if (U16(e, bigEndian) != OrientationTag) continue;
        const uint32_t type = U16(e + 2, bigEndian), values = U32(e + 4, bigEndian), value = U16(e + 8, bigEndian);
        return type == ShortType && values >= 1 && value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}

int FromTiff(const uint8_t* data, size_t size) {
    return ReadTiff([data, size](uint64_t offset, uint8_t* into, size_t want) -> size_t {
        if (offset >= size) return 0;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(want, size - offset));
        std::memcpy(into, data + offset, n);
        return n;
    });
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
        if (marker == 0xE1 && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
            // The block's body is a TIFF structure of its own, offsets from its start.
            return FromTiff(body + 6, bodySize - 6);
        }
        at += 2 + length;
    }
    return 1;
}

}  // namespace ExifOrientation
