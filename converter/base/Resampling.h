// Changing a picture's size with a high-quality filter. Pure: no Windows
// types. Our own because the platform's scaler is not the same everywhere:
// Wine's answers every interpolation mode with nearest neighbour, which turns
// fine detail (text, fabric, a checkerboard) into noise.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/base/Image.h"

namespace Resampling {

// A separable Catmull-Rom (bicubic) filter, widened by the reduction factor
// when making smaller so that every source pixel contributes (as Fant does).
// Colour is filtered premultiplied by alpha, so transparent pixels do not
// bleed their hidden colour into the edges. `size` must not be zero;
// std::bad_alloc when the buffers cannot be had or their sizes do not fit
// size_t (checked before any is taken).
Image Resize(const Image& source, PixelSize size);

// The same filter over a band of rows: source rows go in top to bottom,
// result rows come out as soon as the source rows under their filter have
// come. Holds only the filter's window of source rows (each already at the
// new width), so a picture of any height is resized in the memory of a few
// rows. Resize is built on it: both give the same bytes.
class Rows {
public:
    // std::bad_alloc when the buffers cannot be had or do not fit size_t.
    Rows(PixelSize from, PixelSize to);

    // True when the next result row can be taken (Take), false when the
    // next source row must be given first (Give).
    bool Ready() const;
    // One source row, `from.width` BGRA pixels. Only while !Ready() and
    // source rows are left.
    void Give(const uint8_t* bgra);
    // The next result row into `bgra` (`to.width` pixels). Only while Ready().
    void Take(uint8_t* bgra);

    uint32_t Given() const { return given_; }
    uint32_t Taken() const { return taken_; }

    // The bytes a band resampler for these sizes holds; UINT64_MAX when
    // they do not fit size_t.
    static uint64_t Bytes(PixelSize from, PixelSize to);

private:
    struct Taps {
        std::vector<uint32_t> first;
        std::vector<uint32_t> count;
        std::vector<float> weights;  // `width` a result index
        uint32_t width = 0;
    };
    static Taps MakeTaps(uint32_t from, uint32_t to);

    PixelSize from_, to_;
    Taps across_, down_;
    std::vector<float> premultiplied_;  // one source row
    std::vector<float> window_;         // down_.width rows at the new width, a ring
    std::vector<float> sum_;
    uint32_t given_ = 0, taken_ = 0;
};

}  // namespace Resampling
