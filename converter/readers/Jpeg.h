// JPEG (baseline, progressive, arithmetic; grey, YCbCr, RGB, CMYK and YCCK)
// read through libjpeg-turbo. When the picture will be reduced, the decoder
// scales by 1/2, 1/4 or 1/8 while decoding, never below the size the upright
// picture is fitted to: the resampler finishes the job on far fewer pixels.
// Exif (and its orientation), XMP, the ICC profile (reassembled from its
// APP2 chunks) and the JFIF density go into the metadata. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Jpeg {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// The decoder's reduction for a stored picture of `stored` pixels with that
// orientation: 1, 2, 4 or 8, the largest whose result (each side divided and
// rounded up) still covers the fit of the upright picture into the box.
unsigned Reduction(PixelSize stored, int orientation, const ReadRequest& request);

}  // namespace Jpeg
