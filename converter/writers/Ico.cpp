#include "converter/writers/Ico.h"

#include <algorithm>
#include <cstring>

#include "converter/writers/ByteWriter.h"

namespace Ico {
namespace {

bool Valid(const Entry& entry) {
    if (entry.width == 0 || entry.height == 0 || entry.width > MaxSide || entry.height > MaxSide) return false;
    if (!entry.png.empty()) return true;
    return entry.bitmap.Valid() && entry.bitmap.width == entry.width && entry.bitmap.height == entry.height;
}

// BITMAPINFOHEADER of twice the height (the colour rows, then the mask), the
// colour rows bottom-up, then the AND mask: 1 bit a pixel, set where the
// pixel is fully transparent, rows padded to 32 bits.
std::vector<uint8_t> BitmapImage(const Image& image) {
    std::vector<uint8_t> bytes;
    ByteWriter out(bytes);
    const uint32_t maskStride = (image.width + 31) / 32 * 4;
    out.U32(40);
    out.U32(image.width);
    out.U32(image.height * 2);
    out.U16(1);   // planes
    out.U16(32);  // bits a pixel
    out.U32(0);   // BI_RGB
    out.U32(image.width * image.height * 4 + maskStride * image.height);
    out.U32(0);
    out.U32(0);
    out.U32(0);
    out.U32(0);
    for (uint32_t y = image.height; y-- > 0;) out.Bytes(image.Row(y), image.Stride());
    std::vector<uint8_t> mask(maskStride);
    for (uint32_t y = image.height; y-- > 0;) {
        std::fill(mask.begin(), mask.end(), 0);
        const uint8_t* row = image.Row(y);
        for (uint32_t x = 0; x < image.width; ++x)
            if (row[x * 4 + 3] == 0) mask[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
        out.Bytes(mask);
    }
    return bytes;
}

}  // namespace

void FitInto(uint32_t width, uint32_t height, uint32_t side, uint32_t& fittedWidth, uint32_t& fittedHeight) {
    if (width >= height) {
        fittedWidth = side;
        fittedHeight = static_cast<uint32_t>((uint64_t{height} * side + width / 2) / width);
    } else {
        fittedHeight = side;
        fittedWidth = static_cast<uint32_t>((uint64_t{width} * side + height / 2) / height);
    }
    fittedWidth = std::max(fittedWidth, 1u);
    fittedHeight = std::max(fittedHeight, 1u);
}

Image OnSquare(const Image& fitted, uint32_t side) {
    Image square;
    square.width = side;
    square.height = side;
    square.bgra.assign(static_cast<size_t>(side) * side * 4, 0);
    if (!fitted.Valid() || fitted.width > side || fitted.height > side) return square;
    const uint32_t left = (side - fitted.width) / 2;
    const uint32_t top = (side - fitted.height) / 2;
    for (uint32_t y = 0; y < fitted.height; ++y)
        std::memcpy(square.Row(top + y) + left * 4, fitted.Row(y), fitted.Stride());
    return square;
}

std::vector<uint8_t> Write(const std::vector<Entry>& entries) {
    std::vector<uint8_t> bytes;
    if (entries.empty() || entries.size() > 0xFFFF) return bytes;
    if (!std::all_of(entries.begin(), entries.end(), Valid)) return bytes;

    std::vector<std::vector<uint8_t>> bitmaps(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].png.empty()) bitmaps[i] = BitmapImage(entries[i].bitmap);

    ByteWriter out(bytes);
    out.U16(0);  // reserved
    out.U16(1);  // icon (2 would be a cursor)
    out.U16(static_cast<uint32_t>(entries.size()));
    uint64_t offset = 6 + 16 * uint64_t{entries.size()};
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        const size_t size = entry.png.empty() ? bitmaps[i].size() : entry.png.size();
        if (offset + size > 0xFFFFFFFFu) return {};
        out.U8(entry.width == 256 ? 0 : entry.width);  // 0 stands for 256
        out.U8(entry.height == 256 ? 0 : entry.height);
        out.U8(0);   // colours in a palette: none
        out.U8(0);   // reserved
        out.U16(1);  // planes
        out.U16(32);
        out.U32(static_cast<uint32_t>(size));
        out.U32(static_cast<uint32_t>(offset));
        offset += size;
    }
    for (size_t i = 0; i < entries.size(); ++i) out.Bytes(entries[i].png.empty() ? bitmaps[i] : entries[i].png);
    return bytes;
}

}  // namespace Ico
