#include "converter/writers/Pcx.h"

#include <cmath>

#include "converter/writers/ByteWriter.h"

namespace Pcx {
namespace {

// A run of up to 63 equal bytes is a count byte (0xC0 | n) and the value. A
// single byte below 0xC0 stands for itself; one at or above needs a count of
// one, since it would read as a count.
void EncodePlaneLine(const uint8_t* line, size_t count, ByteWriter& out) {
    size_t i = 0;
    while (i < count) {
        const uint8_t value = line[i];
        size_t run = 1;
        while (i + run < count && run < 63 && line[i + run] == value) ++run;
        if (run > 1 || value >= 0xC0) out.U8(0xC0 | static_cast<uint32_t>(run));
        out.U8(value);
        i += run;
    }
}

}  // namespace

std::vector<uint8_t> Write(const Image& image, double dpiX, double dpiY) {
    std::vector<uint8_t> bytes;
    if (!image.Valid() || image.width > MaxWidth || image.height > MaxHeight) return bytes;
    // Every plane line holds an even number of bytes; the pad byte is zero.
    const uint32_t bytesPerLine = (image.width + 1) & ~1u;

    ByteWriter out(bytes);
    out.U8(0x0A);  // ZSoft
    out.U8(5);     // version 3.0 and later: 24-bit capable
    out.U8(1);     // run-length encoding
    out.U8(8);     // bits a pixel a plane
    out.U16(0);    // window: left, top, right, bottom (inclusive)
    out.U16(0);
    out.U16(image.width - 1);
    out.U16(image.height - 1);
    const auto dpi = [](double value) { return value >= 1 && value <= 65535 ? std::lround(value) : 72L; };
    out.U16(static_cast<uint32_t>(dpi(dpiX)));  // resolution, dots an inch
    out.U16(static_cast<uint32_t>(dpi(dpiY)));
    out.Zeros(48);  // 16-colour palette: unused
    out.U8(0);      // reserved
    out.U8(3);      // planes
    out.U16(bytesPerLine);
    out.U16(1);  // palette info: colour
    out.U16(0);  // screen size: unknown
    out.U16(0);
    out.Zeros(54);

    std::vector<uint8_t> plane(bytesPerLine, 0);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* row = image.Row(y);
        for (int channel : {2, 1, 0}) {  // BGRA: red, green, blue
            for (uint32_t x = 0; x < image.width; ++x) plane[x] = row[x * 4 + channel];
            EncodePlaneLine(plane.data(), plane.size(), out);
        }
    }
    return bytes;
}

}  // namespace Pcx
