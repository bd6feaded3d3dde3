#include "converter/readers/AliasPix.h"

#include "converter/readers/ByteSource.h"

namespace AliasPix {
namespace {

using ByteSource::Cursor;
using ByteSource::Fail;

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Cursor c(data, size);
    const uint32_t width = c.U16BE(), height = c.U16BE();
    c.U16BE();  // x and y offset: unused
    c.U16BE();
    const uint32_t bits = c.U16BE();
    if (!c.Ok() || width == 0 || height == 0 || (bits != 24 && bits != 8)) return Fail(ReadStatus::NotThisFormat);
    const uint32_t packetBytes = bits == 24 ? 4 : 2;
    // A packet stands for at most 255 pixels, and runs end with their line.
    const uint64_t least = (uint64_t{width} + 254) / 255 * height * packetBytes;
    if (uint64_t{width} * height <= request.maxPixels && c.Left() < least) return Fail(ReadStatus::Damaged);
    ReadResult result = ByteSource::Allocate(out.image, width, height, request);
    if (!result.Ok()) return result;

    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = out.image.Row(y);
        uint32_t x = 0;
        while (x < width) {
            const uint32_t run = c.U8();
            const uint32_t b = c.U8();
            const uint32_t g = bits == 24 ? c.U8() : b;
            const uint32_t r = bits == 24 ? c.U8() : b;
            if (!c.Ok() || run == 0 || run > width - x) return Fail(ReadStatus::Damaged);
            for (uint32_t k = 0; k < run; ++k, ++x) ByteSource::Put(row + size_t{x} * 4, b, g, r);
        }
    }
    return result;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, request, out); });
}

}  // namespace AliasPix
