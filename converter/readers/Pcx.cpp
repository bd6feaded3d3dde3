#include "converter/readers/Pcx.h"

#include <cstring>

#include "converter/readers/ByteSource.h"

namespace Pcx {
namespace {

using ByteSource::Cursor;
using ByteSource::Fail;

constexpr size_t kHeaderSize = 128;
constexpr size_t kPaletteSize = 769;  // the 0x0C marker and 256 RGB triples

// The 16 colours of the EGA: what a file written without a palette in its
// header (version 3, "2.8 without palette") shows.
constexpr uint8_t kEga[16][3] = {{0, 0, 0},       {0, 0, 170},     {0, 170, 0},     {0, 170, 170},
                                 {170, 0, 0},     {170, 0, 170},   {170, 85, 0},    {170, 170, 170},
                                 {85, 85, 85},    {85, 85, 255},   {85, 255, 85},   {85, 255, 255},
                                 {255, 85, 85},   {255, 85, 255},  {255, 255, 85},  {255, 255, 255}};

// The scan lines, all planes of a line one after the other, decoded from
// `data` into `lines`. Runs may cross from one line into the next (some
// writers let them), but never past the picture's last byte.
bool Unpack(const uint8_t* data, size_t size, bool rle, std::vector<uint8_t>& lines) {
    if (!rle) {
        if (size < lines.size()) return false;
        std::memcpy(lines.data(), data, lines.size());
        return true;
    }
    size_t at = 0;
    size_t filled = 0;
    while (filled < lines.size()) {
        if (at >= size) return false;
        uint32_t value = data[at++];
        size_t count = 1;
        if ((value & 0xC0) == 0xC0) {
            count = value & 0x3F;
            if (at >= size) return false;
            value = data[at++];
        }
        if (count > lines.size() - filled) count = lines.size() - filled;
        std::memset(lines.data() + filled, static_cast<int>(value), count);
        filled += count;
    }
    return true;
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Cursor c(data, size);
    const uint32_t maker = c.U8(), version = c.U8(), encoding = c.U8(), bits = c.U8();
    const uint32_t xMin = c.U16LE(), yMin = c.U16LE(), xMax = c.U16LE(), yMax = c.U16LE();
    const uint32_t dpiX = c.U16LE(), dpiY = c.U16LE();
    if (!c.Ok() || maker != 0x0A || version > 5 || version == 1 || encoding > 1 ||
        (bits != 1 && bits != 2 && bits != 4 && bits != 8))
        return Fail(ReadStatus::NotThisFormat);
    if (size < kHeaderSize || xMax < xMin || yMax < yMin) return Fail(ReadStatus::Damaged);
    const uint8_t* headerPalette = data + 16;
    const uint32_t planes = data[65];
    const uint32_t bytesPerLine = data[66] | uint32_t{data[67]} << 8;
    const uint32_t width = xMax - xMin + 1, height = yMax - yMin + 1;

    enum class Layout { Mono, Planar, Packed, Indexed8, Rgb } layout;
    if (bits == 1 && planes == 1) layout = Layout::Mono;
    else if (bits == 1 && planes <= 4) layout = Layout::Planar;
    else if ((bits == 2 || bits == 4) && planes == 1) layout = Layout::Packed;
    else if (bits == 8 && planes == 1) layout = Layout::Indexed8;
    else if (bits == 8 && (planes == 3 || planes == 4)) layout = Layout::Rgb;
    else return Fail(ReadStatus::Unsupported, L"Diese PCX-Variante (Farbtiefe und Ebenen) wird nicht gelesen.");
    if (planes == 0 || uint64_t{bytesPerLine} * 8 < uint64_t{width} * bits) return Fail(ReadStatus::Damaged);

    // The 256-colour palette sits in the last 769 bytes, after the pixels.
    size_t end = size;
    const bool tailPalette = layout == Layout::Indexed8 && size >= kHeaderSize + kPaletteSize &&
                             data[size - kPaletteSize] == 0x0C;
    if (tailPalette) end = size - kPaletteSize;

    // All planes of all lines, checked before anything is read or taken:
    // 16384 bytes, 4 planes and 65536 lines make exactly 4 GiB, which a
    // 32-bit size_t would wrap to an empty buffer.
    size_t lineBytes = 0, total = 0;
    if (!CheckedSize::Mul(bytesPerLine, planes, lineBytes) || !CheckedSize::Mul(lineBytes, height, total))
        return Fail(ReadStatus::TooLarge);
    // Before any memory is taken: a run of two bytes stands for at most 63.
    const uint64_t least = encoding ? (uint64_t{total} + 62) / 63 * 2 : total;
    if (uint64_t{width} * height <= request.maxPixels && end - kHeaderSize < least) return Fail(ReadStatus::Damaged);
    ReadResult result = ByteSource::Allocate(out.image, width, height, request, total);
    if (!result.Ok()) return result;
    std::vector<uint8_t> lines(total);
    if (!Unpack(data + kHeaderSize, end - kHeaderSize, encoding == 1, lines)) return Fail(ReadStatus::Damaged);

    // The colours an index stands for, as B, G, R.
    uint8_t palette[256][3] = {};
    if (layout == Layout::Indexed8) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint8_t* rgb = tailPalette ? data + size - 768 + i * 3 : nullptr;
            palette[i][0] = rgb ? rgb[2] : static_cast<uint8_t>(i);
            palette[i][1] = rgb ? rgb[1] : static_cast<uint8_t>(i);
            palette[i][2] = rgb ? rgb[0] : static_cast<uint8_t>(i);
        }
    } else if (layout == Layout::Planar || layout == Layout::Packed) {
        bool blank = true;
        for (int i = 0; i < 48; ++i) blank &= headerPalette[i] == 0;
        for (uint32_t i = 0; i < 16; ++i) {
            const uint8_t* rgb = blank ? kEga[i] : headerPalette + i * 3;
            palette[i][0] = rgb[2];
            palette[i][1] = rgb[1];
            palette[i][2] = rgb[0];
        }
    } else if (layout == Layout::Mono) {
        std::memset(palette[1], 0xFF, 3);  // 0 black, 1 white
    }

    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* line = lines.data() + y * lineBytes;
        uint8_t* row = out.image.Row(y);
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* pixel = row + size_t{x} * 4;
            if (layout == Layout::Rgb) {
                ByteSource::Put(pixel, line[2 * bytesPerLine + x], line[bytesPerLine + x], line[x],
                                planes == 4 ? line[3 * bytesPerLine + x] : 0xFF);
                continue;
            }
            uint32_t index = 0;
            if (layout == Layout::Indexed8) {
                index = line[x];
            } else if (layout == Layout::Packed) {
                const uint32_t bit = x * bits;
                index = (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
            } else {
                for (uint32_t p = 0; p < planes; ++p)
                    index |= ((line[p * bytesPerLine + x / 8] >> (7 - x % 8)) & 1) << p;
            }
            ByteSource::Put(pixel, palette[index][0], palette[index][1], palette[index][2]);
        }
    }
    if (dpiX > 0 && dpiY > 0) {
        out.metadata.dpiX = dpiX;
        out.metadata.dpiY = dpiY;
    }
    return result;
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, request, out); });
}

}  // namespace Pcx
