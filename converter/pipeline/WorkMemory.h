// How much memory converting one picture holds, reckoned from sizes alone,
// before any of it is taken: what the workers ask of their shared budget.
// Pure: no Windows types.
#pragma once

#include <cstdint>

#include "converter/base/Geometry.h"

namespace WorkMemory {

// Returned when the work cannot fit any address space of this build.
constexpr uint64_t Unbounded = UINT64_MAX;

// The largest result a picture decoded at `decoded` can give under a box
// ({0, 0}: its own size), whichever way its orientation turns it.
PixelSize LargestResult(PixelSize decoded, PixelSize box, bool enlarge);

// The peak in bytes: while decoding, the picture and the decoder's own
// buffers; afterwards the picture, its turned copy, the resampler's rows
// and the result with its encoded bytes. Unbounded when a product of the
// sizes does not fit this build's size_t.
uint64_t Peak(PixelSize decoded, uint64_t decoderBytes, PixelSize result);

}  // namespace WorkMemory
