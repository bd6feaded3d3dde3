// JPEG through libjpeg-turbo: YCbCr with 4:2:0 chroma subsampling (what
// cameras write for photos) and optimised Huffman tables. The source's
// metadata is put in afterwards (JpegMarkers::Embed). Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Jpeg {

// The whole file at `quality` (1 to 100, clamped); alpha is left out (the
// picture is opaque by then). Empty when the picture is not valid or larger
// than the format allows.
std::vector<uint8_t> Write(const Image& image, int quality);

// JPEG's sides are 16-bit numbers.
constexpr uint32_t MaxSide = 65535;

}  // namespace Jpeg
