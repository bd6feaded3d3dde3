#include "converter/readers/Wbmp.h"

#include "converter/readers/ByteSource.h"

namespace Wbmp {
namespace {

using ByteSource::Cursor;
using ByteSource::Fail;

// Big-endian groups of 7 bits, the high bit set on every byte but the last;
// more than 32 bits is not a size.
bool MultiByte(Cursor& c, uint32_t& value) {
    uint64_t v = 0;
    for (int i = 0; i < 5; ++i) {
        const uint32_t byte = c.U8();
        if (!c.Ok()) return false;
        v = v << 7 | (byte & 0x7F);
        if (!(byte & 0x80)) {
            if (v > UINT32_MAX) return false;
            value = static_cast<uint32_t>(v);
            return true;
        }
    }
    return false;
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Cursor c(data, size);
    uint32_t type = 1, width = 0, height = 0;
    if (!MultiByte(c, type) || type != 0) return Fail(ReadStatus::NotThisFormat);
    const uint32_t fixed = c.U8();
    if (!c.Ok() || (fixed & 0x9F) != 0) return Fail(ReadStatus::NotThisFormat);  // extension headers: not in type 0
    if (!MultiByte(c, width) || !MultiByte(c, height)) return Fail(ReadStatus::Damaged);
    if (width == 0 || height == 0) return Fail(ReadStatus::Damaged);
    const uint64_t rowBytes = (uint64_t{width} + 7) / 8;
    if (uint64_t{width} * height <= request.maxPixels && c.Left() < rowBytes * height)
        return Fail(ReadStatus::Damaged);
    ReadResult result = ByteSource::Allocate(out.image, width, height, request);
    if (!result.Ok()) return result;
    const uint8_t* bits = c.Here();
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = out.image.Row(y);
        const uint8_t* stored = bits + y * rowBytes;
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t v = (stored[x / 8] >> (7 - x % 8)) & 1 ? 255 : 0;
            ByteSource::Put(row + size_t{x} * 4, v, v, v);
        }
    }
    return result;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, request, out); });
}

}  // namespace Wbmp
