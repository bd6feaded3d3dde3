// A picture onto a given palette of at most 256 colours with Floyd-Steinberg
// error diffusion, each pixel taking the exactly nearest colour (squared RGB
// distance, the lower index on a tie). Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Dither {

// Alpha is ignored (the picture is opaque by then). The palette holds 1 to
// 256 colours as 0x00RRGGBB; anything else gives an empty picture.
IndexedImage ToPalette(const Image& image, const std::vector<uint32_t>& palette);

}  // namespace Dither
