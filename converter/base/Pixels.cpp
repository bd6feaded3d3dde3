#include "converter/base/Pixels.h"

#include <algorithm>
#include <cstring>

namespace Pixels {

namespace {

// The byte offset of the first pixel that is not opaque, or `size`. Four
// pixels a step: most pictures are opaque through and through, and this
// look is then all the flattening costs.
size_t FirstTranslucent(const uint8_t* bgra, size_t size) {
    constexpr uint64_t Alphas = 0xFF000000FF000000u;
    size_t at = 0;
    for (; at + 16 <= size; at += 16) {
        uint64_t first, second;
        std::memcpy(&first, bgra + at, 8);
        std::memcpy(&second, bgra + at + 8, 8);
        if ((first & second & Alphas) != Alphas) break;
    }
    for (; at + 3 < size; at += 4)
        if (bgra[at + 3] != 255) return at;
    return size;
}

}  // namespace

bool HasTransparency(const Image& image) {
    return FirstTranslucent(image.bgra.data(), image.bgra.size()) < image.bgra.size();
}

namespace {

void Flatten(uint8_t* bgra, size_t bytes) {
    for (size_t i = FirstTranslucent(bgra, bytes); i + 3 < bytes; i += 4) {
        const unsigned a = bgra[i + 3];
        if (a == 255) continue;
        for (size_t c = 0; c < 3; ++c) bgra[i + c] = static_cast<uint8_t>((bgra[i + c] * a + 255 * (255 - a) + 127) / 255);
        bgra[i + 3] = 255;
    }
}

}  // namespace

void FlattenOntoWhite(Image& image) { Flatten(image.bgra.data(), image.bgra.size()); }

void FlattenRowOntoWhite(uint8_t* bgra, uint32_t width) { Flatten(bgra, size_t{width} * 4); }

bool TurnsSideways(int orientation) { return orientation >= 5 && orientation <= 8; }

void Orient(Image& image, int orientation) {
    if (orientation < 2 || orientation > 8) return;
    const uint32_t w = image.width, h = image.height;
    const bool sideways = TurnsSideways(orientation);
    Image out;
    out.width = sideways ? h : w;
    out.height = sideways ? w : h;
    out.bgra.resize(image.bgra.size());
    for (uint32_t y = 0; y < out.height; ++y) {
        uint8_t* row = out.Row(y);
        for (uint32_t x = 0; x < out.width; ++x) {
            // Where the shown pixel (x, y) is stored.
            uint32_t sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x, sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y, sy = x; break;
            case 6: sx = y, sy = h - 1 - x; break;
            case 7: sx = w - 1 - y, sy = h - 1 - x; break;
            case 8: sx = w - 1 - y, sy = x; break;
            }
            const uint8_t* from = image.Row(sy) + static_cast<size_t>(sx) * 4;
            std::copy(from, from + 4, row + static_cast<size_t>(x) * 4);
        }
    }
    image = std::move(out);
}

std::vector<uint8_t> PackBgr(const Image& image, uint32_t& stride) {
    stride = (image.width * 3 + 3) & ~3u;
    std::vector<uint8_t> out(static_cast<size_t>(stride) * image.height);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* in = image.Row(y);
        uint8_t* row = out.data() + static_cast<size_t>(y) * stride;
        for (uint32_t x = 0; x < image.width; ++x) {
            row[x * 3 + 0] = in[x * 4 + 0];
            row[x * 3 + 1] = in[x * 4 + 1];
            row[x * 3 + 2] = in[x * 4 + 2];
        }
    }
    return out;
}

}  // namespace Pixels
