#include "converter/base/Pixels.h"

#include <algorithm>

namespace Pixels {

bool HasTransparency(const Image& image) {
    for (size_t i = 3; i < image.bgra.size(); i += 4)
        if (image.bgra[i] != 255) return true;
    return false;
}

void FlattenOntoWhite(Image& image) {
    for (size_t i = 0; i + 3 < image.bgra.size(); i += 4) {
        const unsigned a = image.bgra[i + 3];
        if (a == 255) continue;
        for (size_t c = 0; c < 3; ++c)
            image.bgra[i + c] = static_cast<uint8_t>((image.bgra[i + c] * a + 255 * (255 - a) + 127) / 255);
        image.bgra[i + 3] = 255;
    }
}

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
