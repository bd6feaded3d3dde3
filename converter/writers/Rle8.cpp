#include "converter/writers/Rle8.h"

#include <algorithm>
#include <limits>

#include "converter/writers/ByteWriter.h"

namespace Rle8 {
namespace {

size_t RunAt(const uint8_t* row, size_t x, size_t width) {
    size_t run = 1;
    while (x + run < width && run < 255 && row[x + run] == row[x]) ++run;
    return run;
}

void CompressRow(const uint8_t* row, size_t width, ByteWriter& out) {
    size_t x = 0;
    while (x < width) {
        size_t run = RunAt(row, x, width);
        if (run >= 2) {
            out.U8(static_cast<uint32_t>(run));
            out.U8(row[x]);
            x += run;
            continue;
        }
        // Gather differing pixels up to the next run of three or more (a pair
        // costs as much inside an absolute stretch as outside it).
        size_t end = x;
        while (end < width && end - x < 255) {
            if (RunAt(row, end, width) >= 3) break;
            ++end;
        }
        const size_t literal = end - x;
        if (literal < 3) {
            // Absolute mode takes 3 or more: 0 1 and 0 2 are escapes.
            for (size_t i = 0; i < literal; ++i) {
                out.U8(1);
                out.U8(row[x + i]);
            }
        } else {
            out.U8(0);
            out.U8(static_cast<uint32_t>(literal));
            out.Bytes(row + x, literal);
            if (literal % 2) out.U8(0);  // stretches end on a 16-bit boundary
        }
        x = end;
    }
}

bool Valid(const IndexedImage& image) {
    if (image.width == 0 || image.height == 0) return false;
    if (image.palette.empty() || image.palette.size() > 256) return false;
    if (image.indices.size() != static_cast<size_t>(image.width) * image.height) return false;
    // BITMAPINFOHEADER keeps both sizes as signed 32-bit values.
    if (image.width > 0x7FFFFFFFu || image.height > 0x7FFFFFFFu) return false;
    const size_t colours = image.palette.size();
    return std::all_of(image.indices.begin(), image.indices.end(),
                       [colours](uint8_t index) { return index < colours; });
}

}  // namespace

std::vector<uint8_t> CompressRows(const IndexedImage& image) {
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    for (uint32_t y = image.height; y-- > 0;) {
        CompressRow(image.indices.data() + static_cast<size_t>(y) * image.width, image.width, out);
        if (y > 0) {
            out.U8(0);  // end of line
            out.U8(0);
        }
    }
    out.U8(0);  // end of bitmap
    out.U8(1);
    return bytes;
}

std::vector<uint8_t> Write(const IndexedImage& image) {
    std::vector<uint8_t> bytes;
    if (!Valid(image)) return bytes;
    const std::vector<uint8_t> rows = CompressRows(image);
    const uint32_t colours = static_cast<uint32_t>(image.palette.size());
    const uint64_t offBits = 14 + 40 + uint64_t{colours} * 4;
    const uint64_t fileSize = offBits + rows.size();
    if (fileSize > std::numeric_limits<uint32_t>::max()) return bytes;

    bytes.reserve(static_cast<size_t>(fileSize));
    ByteWriter out(bytes);
    out.Text("BM");
    out.U32(static_cast<uint32_t>(fileSize));
    out.U32(0);
    out.U32(static_cast<uint32_t>(offBits));
    out.U32(40);  // BITMAPINFOHEADER
    out.U32(image.width);
    out.U32(image.height);  // positive: bottom-up, the only order RLE allows
    out.U16(1);             // planes
    out.U16(8);             // bits a pixel
    out.U32(1);             // BI_RLE8
    out.U32(static_cast<uint32_t>(rows.size()));
    out.U32(2835);  // 72 dots an inch, in dots a metre
    out.U32(2835);
    out.U32(colours);  // colours used
    out.U32(0);        // all of them important
    for (uint32_t rgb : image.palette) {
        out.U8(rgb);  // RGBQUAD: blue, green, red, reserved
        out.U8(rgb >> 8);
        out.U8(rgb >> 16);
        out.U8(0);
    }
    out.Bytes(rows);
    return bytes;
}

}  // namespace Rle8
