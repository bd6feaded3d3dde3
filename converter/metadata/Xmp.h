// The XMP packet a result keeps. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

namespace Xmp {

// The packet for a result of width x height whose pixels were turned upright
// (`turned`) or stand as the source's did. Every tiff:Orientation (as an
// attribute or an element) becomes 1 when turned and stays as it was when
// not, so an orientation the packet alone gives is never dropped without the
// turn; tiff:ImageWidth, tiff:ImageLength, exif:PixelXDimension and
// exif:PixelYDimension say the result's size. Values other than plain
// numbers are left alone.
std::vector<uint8_t> ForResult(std::vector<uint8_t> packet, uint32_t width, uint32_t height, bool turned);

}  // namespace Xmp
