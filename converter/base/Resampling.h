// Changing a picture's size with a high-quality filter. Pure: no Windows
// types. Our own because the platform's scaler is not the same everywhere:
// Wine's answers every interpolation mode with nearest neighbour, which turns
// fine detail (text, fabric, a checkerboard) into noise.
#pragma once

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

}  // namespace Resampling
