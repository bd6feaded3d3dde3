#include "converter/readers/HaloCut.h"

#include <cstring>

#include "converter/readers/ByteSource.h"

namespace HaloCut {
namespace {

using ByteSource::Cursor;
using ByteSource::Fail;

// The .pal file: a 40-byte header ("AH", version, size, file type 'A',
// subtype, board, graphics mode; at 12 the highest index and the highest
// red, green and blue value; "Dr. Halo" and filler), then 16-bit R, G, B
// triples. The
// file is made of 512-byte blocks (the header's included), and a triple never
// straddles two of them: the 2 bytes left at a block's end are skipped.
bool ReadPalette(const uint8_t* data, size_t size, uint8_t (&bgr)[256][3], uint32_t& count) {
    if (!data || size < 40 || data[0] != 'A' || data[1] != 'H') return false;
    Cursor c(data, size, 12);
    const uint32_t maxIndex = c.U16LE();
    const uint32_t maxRed = c.U16LE(), maxGreen = c.U16LE(), maxBlue = c.U16LE();
    if (maxRed == 0 || maxGreen == 0 || maxBlue == 0) return false;
    count = maxIndex >= 255 ? 256 : maxIndex + 1;
    Cursor e(data, size, 40);
    for (uint32_t i = 0; i < count; ++i) {
        if (512 - e.At() % 512 < 6) e.Skip(512 - e.At() % 512);
        const uint32_t r = e.U16LE(), g = e.U16LE(), b = e.U16LE();
        if (!e.Ok()) return false;
        bgr[i][0] = static_cast<uint8_t>(ByteSource::Scale(b, maxBlue));
        bgr[i][1] = static_cast<uint8_t>(ByteSource::Scale(g, maxGreen));
        bgr[i][2] = static_cast<uint8_t>(ByteSource::Scale(r, maxRed));
    }
    return true;
}

ReadResult Decode(const uint8_t* data, size_t size, const uint8_t* paletteData, size_t paletteSize,
                  const ReadRequest& request, Decoded& out) {
    Cursor c(data, size);
    const uint32_t width = c.U16LE(), height = c.U16LE();
    c.U16LE();  // reserved
    if (!c.Ok() || width == 0 || height == 0) return Fail(ReadStatus::NotThisFormat);
    // Every line takes at least its length and its end mark, 3 bytes.
    if (uint64_t{width} * height <= request.maxPixels && c.Left() < uint64_t{height} * 3)
        return Fail(ReadStatus::Damaged);
    ReadResult result = ByteSource::Allocate(out.image, width, height, request);
    if (!result.Ok()) return result;

    // Every index a byte can hold has a colour: those beyond a short
    // palette take its first colour (as ImageMagick does), so no lookup
    // depends on a check at the lookup.
    uint8_t bgr[256][3] = {};
    uint32_t count = 0;
    if (!ReadPalette(paletteData, paletteSize, bgr, count)) {
        for (uint32_t i = 0; i < 256; ++i) std::memset(bgr[i], static_cast<int>(i), 3);
        count = 256;
    }
    for (uint32_t i = count; i < 256; ++i) std::memcpy(bgr[i], bgr[0], 3);

    // Each line: its length in bytes (not needed: the end mark closes it),
    // then flag bytes, each followed by its data. A flag's high bit repeats
    // the next byte, else that many bytes follow as they are; a count of 0
    // ends the line. A line longer than the picture is cut, a shorter one is
    // left at index 0.
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = out.image.Row(y);
        c.U16LE();
        uint32_t x = 0;
        for (;;) {
            const uint32_t flag = c.U8();
            const uint32_t n = flag & 0x7F;
            if (!c.Ok()) return Fail(ReadStatus::Damaged);
            if (n == 0) break;
            if (flag & 0x80) {
                const uint32_t index = c.U8();
                for (uint32_t k = 0; k < n && x < width; ++k, ++x) std::memcpy(row + size_t{x} * 4, bgr[index], 3);
            } else {
                if (c.Left() < n) return Fail(ReadStatus::Damaged);
                for (uint32_t k = 0; k < n; ++k) {
                    const uint32_t index = c.U8();
                    if (x < width) std::memcpy(row + size_t{x++} * 4, bgr[index], 3);
                }
            }
        }
        for (; x < width; ++x) std::memcpy(row + size_t{x} * 4, bgr[0], 3);
    }
    return result;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const uint8_t* palette, size_t paletteSize,
                const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, palette, paletteSize, request, out); });
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return Read(data, size, nullptr, 0, request, out);
}

}  // namespace HaloCut
