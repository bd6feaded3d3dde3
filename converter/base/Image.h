// A decoded picture as every stage of the converter hands it on: 8-bit
// blue, green, red, alpha (straight, not premultiplied), rows top-down and
// packed, 4 bytes a pixel. No Windows types, so the format writers built on it
// compile and fuzz natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/base/CheckedSize.h"

struct Image {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bgra;  // width * height * 4 bytes

    size_t Stride() const { return static_cast<size_t>(width) * 4; }
    const uint8_t* Row(uint32_t y) const { return bgra.data() + y * Stride(); }
    uint8_t* Row(uint32_t y) { return bgra.data() + y * Stride(); }
    bool Valid() const {
        size_t bytes = 0;
        return width > 0 && height > 0 && CheckedSize::Product({width, height, 4}, bytes) && bgra.size() == bytes;
    }
};

// A picture reduced to at most 256 colours: one palette index a pixel, rows
// top-down and packed (width bytes a row).
struct IndexedImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> palette;  // 0x00RRGGBB, 1 to 256 entries
    std::vector<uint8_t> indices;   // width * height, each < palette.size()
};
