#include "converter/writers/Dither.h"

#include <algorithm>
#include <array>

namespace Dither {
namespace {

// Nearest colour by a search outward from the target's green value through
// the palette sorted by green: once the green difference alone is beyond the
// best distance, nothing further out can be nearer. Exact, and a few dozen
// comparisons a pixel instead of 256.
class Nearest {
public:
    explicit Nearest(const std::vector<uint32_t>& palette) {
        for (size_t i = 0; i < palette.size(); ++i)
            entries_.push_back({static_cast<int>(palette[i] >> 16 & 0xFF), static_cast<int>(palette[i] >> 8 & 0xFF),
                                static_cast<int>(palette[i] & 0xFF), static_cast<int>(i)});
        std::sort(entries_.begin(), entries_.end(),
                  [](const Entry& a, const Entry& b) { return a.g != b.g ? a.g < b.g : a.index < b.index; });
        // Where the search starts for each green value.
        size_t at = 0;
        for (int g = 0; g < 256; ++g) {
            while (at < entries_.size() && entries_[at].g < g) ++at;
            start_[g] = static_cast<int>(std::min(at, entries_.size() - 1));
        }
    }

    int Find(int r, int g, int b) const {
        int best = 0x7FFFFFFF, bestIndex = 0;
        auto consider = [&](const Entry& e) {
            const int d = (e.r - r) * (e.r - r) + (e.g - g) * (e.g - g) + (e.b - b) * (e.b - b);
            if (d < best || (d == best && e.index < bestIndex)) {
                best = d;
                bestIndex = e.index;
            }
        };
        const int count = static_cast<int>(entries_.size());
        bool up = true, down = true;
        for (int step = 0; up || down; ++step) {
            const int high = start_[g] + step, low = start_[g] - 1 - step;
            if (up) {
                if (high >= count || (entries_[high].g - g) * (entries_[high].g - g) > best) up = false;
                else consider(entries_[high]);
            }
            if (down) {
                if (low < 0 || (g - entries_[low].g) * (g - entries_[low].g) > best) down = false;
                else consider(entries_[low]);
            }
        }
        return bestIndex;
    }

private:
    struct Entry {
        int r, g, b, index;
    };
    std::vector<Entry> entries_;
    std::array<int, 256> start_{};
};

int Clamp(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

}  // namespace

IndexedImage ToPalette(const Image& image, const std::vector<uint32_t>& palette) {
    IndexedImage out;
    if (!image.Valid() || palette.empty() || palette.size() > 256) return out;
    const Nearest nearest(palette);
    out.width = image.width;
    out.height = image.height;
    out.palette = palette;
    out.indices.resize(static_cast<size_t>(image.width) * image.height);
    const uint32_t width = image.width;
    // Errors carried to this row and the next, in sixteenths, three channels
    // a pixel, with a spare pixel either side.
    std::vector<int> current((width + 2) * 3, 0), next((width + 2) * 3, 0);
    for (uint32_t y = 0; y < image.height; ++y) {
        const uint8_t* row = image.Row(y);
        uint8_t* indices = out.indices.data() + static_cast<size_t>(y) * width;
        const bool leftToRight = (y % 2) == 0;
        const int ahead = leftToRight ? 1 : -1;
        for (uint32_t i = 0; i < width; ++i) {
            const uint32_t x = leftToRight ? i : width - 1 - i;
            const int* carried = &current[(x + 1) * 3];
            const int r = Clamp(row[x * 4 + 2] + (carried[0] + 8 * (carried[0] > 0) - 8 * (carried[0] < 0)) / 16);
            const int g = Clamp(row[x * 4 + 1] + (carried[1] + 8 * (carried[1] > 0) - 8 * (carried[1] < 0)) / 16);
            const int b = Clamp(row[x * 4 + 0] + (carried[2] + 8 * (carried[2] > 0) - 8 * (carried[2] < 0)) / 16);
            const int index = nearest.Find(r, g, b);
            indices[x] = static_cast<uint8_t>(index);
            const uint32_t chosen = palette[static_cast<size_t>(index)];
            const int error[3] = {r - static_cast<int>(chosen >> 16 & 0xFF), g - static_cast<int>(chosen >> 8 & 0xFF),
                                  b - static_cast<int>(chosen & 0xFF)};
            for (int c = 0; c < 3; ++c) {
                // 7/16 ahead, 3/16 behind below, 5/16 below, 1/16 ahead below.
                current[(x + 1 + ahead) * 3 + c] += error[c] * 7;
                next[(x + 1 - ahead) * 3 + c] += error[c] * 3;
                next[(x + 1) * 3 + c] += error[c] * 5;
                next[(x + 1 + ahead) * 3 + c] += error[c];
            }
        }
        std::swap(current, next);
        std::fill(next.begin(), next.end(), 0);
    }
    return out;
}

}  // namespace Dither
