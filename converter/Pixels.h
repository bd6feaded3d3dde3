// Small pixel operations between decoding and encoding. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/Image.h"

namespace Pixels {

// True when any pixel is less than fully opaque.
bool HasTransparency(const Image& image);

// Puts every pixel onto white by its alpha; all pixels are opaque afterwards.
void FlattenOntoWhite(Image& image);

// The colour channels as 24-bit BGR rows, each padded to a multiple of 4
// bytes (the layout bitmaps and WIC expect); `stride` receives the row length.
std::vector<uint8_t> PackBgr(const Image& image, uint32_t& stride);

}  // namespace Pixels
