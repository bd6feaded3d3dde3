// Floyd-Steinberg onto a palette written a second time from its definition:
// one error buffer for the whole picture instead of two rows, and the
// nearest colour by trying every palette entry. It must choose exactly what
// the converter's faster search chooses.
#pragma once

#include <cstdint>
#include <vector>

namespace Model {

// `rgb`: 3 bytes a pixel, rows top-down. Answers one index a pixel.
inline std::vector<uint8_t> Dither(const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height,
                                   const std::vector<uint32_t>& palette) {
    std::vector<int> error(static_cast<size_t>(width) * height * 3, 0);  // sixteenths
    std::vector<uint8_t> indices(static_cast<size_t>(width) * height);
    auto spread = [&](int64_t x, int64_t y, const int* e, int weight) {
        if (x < 0 || x >= width || y >= height) return;
        for (int c = 0; c < 3; ++c) error[(static_cast<size_t>(y) * width + static_cast<size_t>(x)) * 3 + c] += e[c] * weight;
    };
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t i = 0; i < width; ++i) {
            const bool forward = y % 2 == 0;
            const int64_t x = forward ? i : width - 1 - i;
            const size_t at = static_cast<size_t>(y) * width + static_cast<size_t>(x);
            int want[3];
            for (int c = 0; c < 3; ++c) {
                const int carried = error[at * 3 + c];
                // Sixteenths rounded half away from zero.
                const int rounded = carried >= 0 ? (carried + 8) / 16 : -((-carried + 8) / 16);
                const int v = rgb[at * 3 + c] + rounded;
                want[c] = v < 0 ? 0 : v > 255 ? 255 : v;
            }
            size_t best = 0;
            int64_t bestDistance = INT64_MAX;
            for (size_t p = 0; p < palette.size(); ++p) {
                const int pr = palette[p] >> 16 & 0xFF, pg = palette[p] >> 8 & 0xFF, pb = palette[p] & 0xFF;
                const int64_t d = int64_t{want[0] - pr} * (want[0] - pr) + int64_t{want[1] - pg} * (want[1] - pg) +
                                  int64_t{want[2] - pb} * (want[2] - pb);
                if (d < bestDistance) {
                    bestDistance = d;
                    best = p;
                }
            }
            indices[at] = static_cast<uint8_t>(best);
            const int e[3] = {want[0] - static_cast<int>(palette[best] >> 16 & 0xFF),
                              want[1] - static_cast<int>(palette[best] >> 8 & 0xFF),
                              want[2] - static_cast<int>(palette[best] & 0xFF)};
            const int64_t step = forward ? 1 : -1;
            spread(x + step, y, e, 7);
            spread(x - step, int64_t{y} + 1, e, 3);
            spread(x, int64_t{y} + 1, e, 5);
            spread(x + step, int64_t{y} + 1, e, 1);
        }
    }
    return indices;
}

}  // namespace Model
