#include "converter/writers/Wbmp.h"

#include <algorithm>

#include "converter/writers/ByteWriter.h"

namespace Wbmp {
namespace {

// Big-endian groups of 7 bits, the high bit set on every byte but the last.
void MultiByteInteger(uint32_t value, ByteWriter& out) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = value & 0x7F;
        value >>= 7;
    } while (value);
    while (count > 1) out.U8(groups[--count] | 0x80);
    out.U8(groups[0]);
}

}  // namespace

uint8_t Grey(const uint8_t* bgra) {
    // 0.299 R + 0.587 G + 0.114 B in 1/1024ths, rounded.
    return static_cast<uint8_t>((bgra[2] * 306u + bgra[1] * 601u + bgra[0] * 117u + 512u) >> 10);
}

std::vector<uint8_t> Threshold(const Image& image) {
    std::vector<uint8_t> bits;
    if (!image.Valid()) return bits;
    const uint32_t width = image.width;
    bits.resize(static_cast<size_t>(width) * image.height);
    // Errors carried to this row and the next, in sixteenths of a grey step,
    // with one spare cell either side so the edges need no tests.
    std::vector<int32_t> current(width + 2, 0), next(width + 2, 0);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* row = image.Row(y);
        uint8_t* out = bits.data() + static_cast<size_t>(y) * width;
        const bool leftToRight = (y % 2) == 0;
        for (uint32_t i = 0; i < width; ++i) {
            const uint32_t x = leftToRight ? i : width - 1 - i;
            const int32_t wanted = Grey(row + x * 4) * 16 + current[x + 1];
            const bool white = wanted >= 128 * 16;
            out[x] = white ? 1 : 0;
            const int32_t error = wanted - (white ? 255 * 16 : 0);
            const int ahead = leftToRight ? 1 : -1;
            // 7/16 ahead, 3/16 behind below, 5/16 below, 1/16 ahead below.
            current[x + 1 + ahead] += error * 7 / 16;
            next[x + 1 - ahead] += error * 3 / 16;
            next[x + 1] += error * 5 / 16;
            next[x + 1 + ahead] += error / 16;
        }
        std::swap(current, next);
        std::fill(next.begin(), next.end(), 0);
    }
    return bits;
}

std::vector<uint8_t> Write(const Image& image) {
    std::vector<uint8_t> bytes;
    if (!image.Valid()) return bytes;
    const std::vector<uint8_t> bits = Threshold(image);
    const size_t rowBytes = (static_cast<size_t>(image.width) + 7) / 8;
    bytes.reserve(12 + rowBytes * image.height);
    ByteWriter out(bytes);
    MultiByteInteger(0, out);  // type 0: black and white, uncompressed
    out.U8(0);                 // fixed header: no extension headers
    MultiByteInteger(image.width, out);
    MultiByteInteger(image.height, out);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* row = bits.data() + static_cast<size_t>(y) * image.width;
        for (size_t byte = 0; byte < rowBytes; ++byte) {
            uint32_t packed = 0;
            for (uint32_t bit = 0; bit < 8; ++bit) {
                const size_t x = byte * 8 + bit;
                // The pad bits at the end of a row are zero.
                if (x < image.width && row[x]) packed |= 0x80u >> bit;
            }
            out.U8(packed);
        }
    }
    return bytes;
}

}  // namespace Wbmp
