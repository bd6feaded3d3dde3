// Small pixel operations between decoding and encoding. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Pixels {

// True when any pixel is less than fully opaque.
bool HasTransparency(const Image& image);

// Puts every pixel onto white by its alpha; all pixels are opaque afterwards.
void FlattenOntoWhite(Image& image);
// The same over one row of `width` BGRA pixels.
void FlattenRowOntoWhite(uint8_t* bgra, uint32_t width);

// True for the orientations (5 to 8) that swap width and height.
bool TurnsSideways(int orientation);

// Turns the picture upright as an Exif/TIFF orientation tag (1 to 8) asks:
// 2 mirrored, 3 upside down, 4 flipped, 5 transposed, 6 turned a quarter
// clockwise to be upright, 7 transversed, 8 a quarter anticlockwise.
// Other values leave it alone. std::bad_alloc when no room for the copy.
void Orient(Image& image, int orientation);

// The colour channels as 24-bit BGR rows, each padded to a multiple of 4
// bytes (the layout bitmaps and WIC expect); `stride` receives the row length.
std::vector<uint8_t> PackBgr(const Image& image, uint32_t& stride);

}  // namespace Pixels
