// Wireless Bitmap, type 0: one bit a pixel, 1 for white. The picture goes to
// grey and then to black and white by error diffusion, so areas keep their
// brightness. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Wbmp {

// The grey value of one BGRA pixel (ITU-R BT.601 weights), alpha ignored.
uint8_t Grey(const uint8_t* bgra);

// The picture as rows of 0 (black) and 1 (white), one byte a pixel:
// Floyd-Steinberg error diffusion over the grey values, serpentine rows.
std::vector<uint8_t> Threshold(const Image& image);

// The whole file. Empty when the picture is not valid.
std::vector<uint8_t> Write(const Image& image);

}  // namespace Wbmp
