#include "converter/base/Resampling.h"

#include "converter/base/CheckedSize.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace Resampling {

namespace {

// A count of elements from sizes; one that does not fit size_t is as good
// as memory that cannot be had.
size_t Count(std::initializer_list<uint64_t> factors) {
    size_t count = 0;
    if (!CheckedSize::Product(factors, count)) throw std::bad_alloc();
    return count;
}

float CatmullRom(float x) {
    x = std::fabs(x);
    if (x < 1.0f) return 1.5f * x * x * x - 2.5f * x * x + 1.0f;
    if (x < 2.0f) return -0.5f * x * x * x + 2.5f * x * x - 4.0f * x + 2.0f;
    return 0.0f;
}

// For each destination index, the first source index it reads and the
// weights of the source indices from there on (normalised to sum 1).
struct Taps {
    std::vector<uint32_t> first;
    std::vector<uint32_t> count;
    std::vector<float> weights;  // `width` a destination index
    uint32_t width = 0;
};

Taps MakeTaps(uint32_t from, uint32_t to) {
    const double scale = static_cast<double>(to) / from;
    const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;  // filter width factor
    const double support = 2.0 * stretch;
    Taps taps;
    taps.width = static_cast<uint32_t>(std::ceil(support)) * 2 + 1;
    taps.first.resize(to);
    taps.count.resize(to);
    taps.weights.assign(Count({to, taps.width}), 0.0f);
    for (uint32_t i = 0; i < to; ++i) {
        const double centre = (i + 0.5) / scale;  // in source coordinates
        int64_t lo = static_cast<int64_t>(std::floor(centre - support));
        int64_t hi = static_cast<int64_t>(std::ceil(centre + support));
        lo = std::max<int64_t>(lo, 0);
        hi = std::min<int64_t>(hi, static_cast<int64_t>(from) - 1);
        if (hi - lo + 1 > static_cast<int64_t>(taps.width)) hi = lo + taps.width - 1;
        float* w = &taps.weights[static_cast<size_t>(i) * taps.width];
        double sum = 0.0;
        for (int64_t s = lo; s <= hi; ++s) {
            const float value = CatmullRom(static_cast<float>((s + 0.5 - centre) / stretch));
            w[s - lo] = value;
            sum += value;
        }
        if (sum == 0.0) {  // cannot happen with this kernel, but never divide by it
            w[0] = 1.0f;
            sum = 1.0;
        }
        for (int64_t s = lo; s <= hi; ++s) w[s - lo] = static_cast<float>(w[s - lo] / sum);
        taps.first[i] = static_cast<uint32_t>(lo);
        taps.count[i] = static_cast<uint32_t>(hi - lo + 1);
    }
    return taps;
}

uint8_t ToByte(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(v + 0.5f);
}

}  // namespace

Image Resize(const Image& source, PixelSize size) {
    // Every buffer's size checked before the first is taken: on a 32-bit
    // build a large enlargement would otherwise wrap to a small one.
    const size_t rowsCount = Count({size.width, source.height, 4});
    const size_t resultBytes = Count({size.width, size.height, 4});
    const Taps across = MakeTaps(source.width, size.width);
    const Taps down = MakeTaps(source.height, size.height);

    // Pass 1: every source row to the new width, premultiplied, as floats.
    std::vector<float> rows(rowsCount);
    std::vector<float> premultiplied(static_cast<size_t>(source.width) * 4);
    for (uint32_t y = 0; y < source.height; ++y) {
        const uint8_t* in = source.Row(y);
        for (uint32_t x = 0; x < source.width; ++x) {
            const float a = in[x * 4 + 3] * (1.0f / 255.0f);
            premultiplied[x * 4 + 0] = in[x * 4 + 0] * a;
            premultiplied[x * 4 + 1] = in[x * 4 + 1] * a;
            premultiplied[x * 4 + 2] = in[x * 4 + 2] * a;
            premultiplied[x * 4 + 3] = in[x * 4 + 3];
        }
        float* out = &rows[static_cast<size_t>(y) * size.width * 4];
        for (uint32_t x = 0; x < size.width; ++x) {
            const float* w = &across.weights[static_cast<size_t>(x) * across.width];
            const float* p = &premultiplied[static_cast<size_t>(across.first[x]) * 4];
            float b = 0, g = 0, r = 0, a = 0;
            for (uint32_t k = 0; k < across.count[x]; ++k, p += 4) {
                b += w[k] * p[0];
                g += w[k] * p[1];
                r += w[k] * p[2];
                a += w[k] * p[3];
            }
            out[x * 4 + 0] = b;
            out[x * 4 + 1] = g;
            out[x * 4 + 2] = r;
            out[x * 4 + 3] = a;
        }
    }

    // Pass 2: down the columns to the new height, back to straight alpha.
    Image result;
    result.width = size.width;
    result.height = size.height;
    result.bgra.resize(resultBytes);
    std::vector<float> sum(static_cast<size_t>(size.width) * 4);
    const size_t rowFloats = static_cast<size_t>(size.width) * 4;
    for (uint32_t y = 0; y < size.height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        const float* w = &down.weights[static_cast<size_t>(y) * down.width];
        for (uint32_t k = 0; k < down.count[y]; ++k) {
            const float* in = &rows[(static_cast<size_t>(down.first[y]) + k) * rowFloats];
            const float weight = w[k];
            for (size_t i = 0; i < rowFloats; ++i) sum[i] += weight * in[i];
        }
        uint8_t* out = result.Row(y);
        for (uint32_t x = 0; x < size.width; ++x) {
            const float a = sum[x * 4 + 3];
            const uint8_t alpha = ToByte(a);
            out[x * 4 + 3] = alpha;
            if (alpha == 0) {
                out[x * 4 + 0] = out[x * 4 + 1] = out[x * 4 + 2] = 0;
                continue;
            }
            const float unmultiply = 255.0f / a;
            out[x * 4 + 0] = ToByte(sum[x * 4 + 0] * unmultiply);
            out[x * 4 + 1] = ToByte(sum[x * 4 + 1] * unmultiply);
            out[x * 4 + 2] = ToByte(sum[x * 4 + 2] * unmultiply);
        }
    }
    return result;
}

}  // namespace Resampling
