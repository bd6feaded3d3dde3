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

// The filter's reach in source pixels on each side of a result pixel's centre.
uint32_t TapWidth(uint32_t from, uint32_t to) {
    const double scale = static_cast<double>(to) / from;
    const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;
    return static_cast<uint32_t>(std::ceil(2.0 * stretch)) * 2 + 1;
}

uint8_t ToByte(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    if (v >= 255.0f) return 255;
    return static_cast<uint8_t>(v + 0.5f);
}

}  // namespace

// For each result index, the first source index it reads and the weights of
// the source indices from there on (normalised to sum 1). The first index
// never decreases from one result index to the next: the band relies on it.
Rows::Taps Rows::MakeTaps(uint32_t from, uint32_t to) {
    const double scale = static_cast<double>(to) / from;
    const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;  // filter width factor
    const double support = 2.0 * stretch;
    Taps taps;
    taps.width = TapWidth(from, to);
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

uint64_t Rows::Bytes(PixelSize from, PixelSize to) {
    if (from.width == 0 || from.height == 0 || to.width == 0 || to.height == 0) return UINT64_MAX;
    const uint32_t across = TapWidth(from.width, to.width), down = TapWidth(from.height, to.height);
    size_t taps = 0, window = 0, rows = 0, total = 0;
    // Tap tables (weights and two indices), the window, one source row, the sum.
    const bool fits = CheckedSize::Product({to.width, across + 2, 4}, taps) &&
                      CheckedSize::MulAdd(to.height, (down + 2) * uint64_t{4}, taps, taps) &&
                      CheckedSize::Product({to.width, down, 16}, window) &&
                      CheckedSize::MulAdd(from.width, 16, window, rows) &&
                      CheckedSize::MulAdd(to.width, 16, rows, total) && CheckedSize::Add(total, taps, total);
    return fits ? total : UINT64_MAX;
}

Rows::Rows(PixelSize from, PixelSize to) : from_(from), to_(to) {
    if (from.width == 0 || from.height == 0 || to.width == 0 || to.height == 0) throw std::bad_alloc();
    // Every buffer's size checked before the first is taken: on a 32-bit
    // build a large enlargement would otherwise wrap to a small one.
    if (Bytes(from, to) == UINT64_MAX) throw std::bad_alloc();
    across_ = MakeTaps(from.width, to.width);
    down_ = MakeTaps(from.height, to.height);
    premultiplied_.resize(Count({from.width, 4}));
    window_.resize(Count({to.width, down_.width, 4}));
    sum_.resize(Count({to.width, 4}));
}

bool Rows::Ready() const {
    if (taken_ >= to_.height) return false;
    return given_ >= down_.first[taken_] + down_.count[taken_];
}

// Pass 1: the source row to the new width, premultiplied, as floats, into
// its place in the window.
void Rows::Give(const uint8_t* in) {
    for (uint32_t x = 0; x < from_.width; ++x) {
        const float a = in[x * 4 + 3] * (1.0f / 255.0f);
        premultiplied_[x * 4 + 0] = in[x * 4 + 0] * a;
        premultiplied_[x * 4 + 1] = in[x * 4 + 1] * a;
        premultiplied_[x * 4 + 2] = in[x * 4 + 2] * a;
        premultiplied_[x * 4 + 3] = in[x * 4 + 3];
    }
    const size_t rowFloats = static_cast<size_t>(to_.width) * 4;
    float* out = &window_[(given_ % down_.width) * rowFloats];
    for (uint32_t x = 0; x < to_.width; ++x) {
        const float* w = &across_.weights[static_cast<size_t>(x) * across_.width];
        const float* p = &premultiplied_[static_cast<size_t>(across_.first[x]) * 4];
        float b = 0, g = 0, r = 0, a = 0;
        for (uint32_t k = 0; k < across_.count[x]; ++k, p += 4) {
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
    ++given_;
}

// Pass 2: down the window's columns to the result row, back to straight
// alpha. The window holds the last down_.width source rows given, which
// cover this row's taps: the caller takes every ready row before giving
// another, and the taps' first rows never go back.
void Rows::Take(uint8_t* out) {
    const uint32_t y = taken_++;
    const size_t rowFloats = static_cast<size_t>(to_.width) * 4;
    std::fill(sum_.begin(), sum_.end(), 0.0f);
    const float* w = &down_.weights[static_cast<size_t>(y) * down_.width];
    for (uint32_t k = 0; k < down_.count[y]; ++k) {
        const float* in = &window_[((down_.first[y] + k) % down_.width) * rowFloats];
        const float weight = w[k];
        for (size_t i = 0; i < rowFloats; ++i) sum_[i] += weight * in[i];
    }
    for (uint32_t x = 0; x < to_.width; ++x) {
        const float a = sum_[x * 4 + 3];
        const uint8_t alpha = ToByte(a);
        out[x * 4 + 3] = alpha;
        if (alpha == 0) {
            out[x * 4 + 0] = out[x * 4 + 1] = out[x * 4 + 2] = 0;
            continue;
        }
        const float unmultiply = 255.0f / a;
        out[x * 4 + 0] = ToByte(sum_[x * 4 + 0] * unmultiply);
        out[x * 4 + 1] = ToByte(sum_[x * 4 + 1] * unmultiply);
        out[x * 4 + 2] = ToByte(sum_[x * 4 + 2] * unmultiply);
    }
}

Image Resize(const Image& source, PixelSize size) {
    const size_t resultBytes = Count({size.width, size.height, 4});
    Rows rows({source.width, source.height}, size);
    Image result;
    result.width = size.width;
    result.height = size.height;
    result.bgra.resize(resultBytes);
    while (rows.Taken() < size.height) {
        if (rows.Ready()) rows.Take(result.Row(rows.Taken()));
        else rows.Give(source.Row(rows.Given()));
    }
    return result;
}

}  // namespace Resampling
