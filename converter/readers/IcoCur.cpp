#include "converter/readers/IcoCur.h"

#include <cstring>
#include <new>

#include "converter/readers/ByteSource.h"
#include "converter/base/ByteCursor.h"

namespace IcoCur {

namespace {

constexpr size_t DirectoryBytes = 6;
constexpr size_t EntryBytes = 16;
constexpr size_t InfoHeaderBytes = 40;  // BITMAPINFOHEADER
const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

using ByteOrder::Be32;
using ByteOrder::Le16;
using ByteOrder::Le32;

// An image's size and colour depth as its own header gives them; false
// when the header is cut short or makes no sense.
bool Measure(const uint8_t* image, size_t size, bool& png, uint64_t& area, uint32_t& depth) {
    if (size >= 24 && std::memcmp(image, kPngSignature, 8) == 0) {
        png = true;
        const uint32_t width = Be32(image + 16), height = Be32(image + 20);
        area = uint64_t{width} * height;
        depth = size >= 26 ? uint32_t{image[24]} * 4 : 0;  // bits a sample, at most four samples
        return area > 0;
    }
    png = false;
    if (size < InfoHeaderBytes || Le32(image) < InfoHeaderBytes) return false;
    const int32_t width = static_cast<int32_t>(Le32(image + 4));
    const int32_t height = static_cast<int32_t>(Le32(image + 8)) / 2;  // the AND mask's rows count too
    if (width <= 0 || height <= 0) return false;
    area = uint64_t(width) * uint64_t(height);
    depth = Le16(image + 14);
    return true;
}

}  // namespace

ReadResult Choose(const uint8_t* data, size_t size, Choice& choice) {
    if (size < DirectoryBytes || Le16(data) != 0) return {ReadStatus::NotThisFormat};
    const uint32_t type = Le16(data + 2), count = Le16(data + 4);
    if ((type != 1 && type != 2) || count == 0) return {ReadStatus::NotThisFormat};
    if (DirectoryBytes + size_t{count} * EntryBytes > size) return {ReadStatus::NotThisFormat};
    choice = Choice();
    choice.cursor = type == 2;
    uint64_t bestArea = 0;
    uint32_t bestDepth = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = data + DirectoryBytes + size_t{i} * EntryBytes;
        const size_t offset = Le32(entry + 12);
        if (offset < DirectoryBytes || offset >= size) continue;
        // A size beyond the file's end is taken as far as the file goes.
        const size_t length = Le32(entry + 8) < size - offset ? Le32(entry + 8) : size - offset;
        bool png = false;
        uint64_t area = 0;
        uint32_t depth = 0;
        if (!Measure(data + offset, length, png, area, depth)) continue;
        if (area > bestArea || (area == bestArea && depth > bestDepth)) {
            bestArea = area;
            bestDepth = depth;
            choice.offset = offset;
            choice.size = length;
            choice.png = png;
        }
    }
    if (bestArea == 0) return {ReadStatus::Damaged};
    return {};
}

ReadResult ReadBitmap(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (size < InfoHeaderBytes) return {ReadStatus::Damaged};
    const uint32_t headerSize = Le32(data);
    if (headerSize < InfoHeaderBytes || headerSize > size) return {ReadStatus::Damaged};
    const int32_t signedWidth = static_cast<int32_t>(Le32(data + 4));
    const int32_t signedHeight = static_cast<int32_t>(Le32(data + 8)) / 2;
    if (signedWidth <= 0 || signedHeight <= 0) return {ReadStatus::Damaged};
    const uint32_t width = static_cast<uint32_t>(signedWidth), height = static_cast<uint32_t>(signedHeight);
    const uint32_t bits = Le16(data + 14);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return {ReadStatus::Unsupported};
    if (Le32(data + 16) != 0) return {ReadStatus::Unsupported};  // only uncompressed (BI_RGB) images
    if (const ReadResult admitted = ByteSource::Admit(width, height, 0, request); !admitted.Ok()) return admitted;

    uint64_t colours = 0;
    if (bits <= 8) {
        colours = Le32(data + 32);
        if (colours == 0 || colours > (uint64_t{1} << bits)) colours = uint64_t{1} << bits;
    }
    const uint64_t xorStride = (uint64_t{width} * bits + 31) / 32 * 4;
    const uint64_t maskStride = (uint64_t{width} + 31) / 32 * 4;
    const uint64_t xorAt = uint64_t{headerSize} + colours * 4;
    const uint64_t maskAt = xorAt + xorStride * height;
    if (maskAt > size) return {ReadStatus::Damaged};
    // Some writers leave the mask out; their pictures are then opaque.
    const bool hasMask = maskAt + maskStride * height <= size;
    const uint8_t* palette = data + headerSize;

    try {
        Image& image = out.image;
        image.width = width;
        image.height = height;
        image.bgra.assign(static_cast<size_t>(width) * height * 4, 0);
        bool anyAlpha = false;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = data + xorAt + xorStride * (height - 1 - y);  // stored bottom-up
            uint8_t* pixel = image.Row(y);
            for (uint32_t x = 0; x < width; ++x, pixel += 4) {
                if (bits == 32) {
                    std::memcpy(pixel, row + size_t{x} * 4, 4);
                    anyAlpha = anyAlpha || pixel[3] != 0;
                } else if (bits == 24) {
                    std::memcpy(pixel, row + size_t{x} * 3, 3);
                    pixel[3] = 255;
                } else {
                    const uint32_t bit = x * bits;
                    const uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                    if (index < colours) std::memcpy(pixel, palette + size_t{index} * 4, 3);
                    pixel[3] = 255;
                }
            }
        }
        // A 32-bit image whose alpha is all zero predates alpha in icons:
        // its mask says what shows.
        if (bits == 32 && !anyAlpha)
            for (size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = 255;
        if (hasMask && (bits != 32 || !anyAlpha)) {
            for (uint32_t y = 0; y < height; ++y) {
                const uint8_t* row = data + maskAt + maskStride * (height - 1 - y);
                uint8_t* pixel = image.Row(y);
                for (uint32_t x = 0; x < width; ++x)
                    if ((row[x / 8] >> (7 - x % 8)) & 1) pixel[size_t{x} * 4 + 3] = 0;
            }
        }
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return {ReadStatus::OutOfMemory};
    }
    out.orientation = 1;
    return {};
}

}  // namespace IcoCur
