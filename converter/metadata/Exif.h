// The Exif block a result keeps: the source's, edited only where the result
// differs from the source. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

namespace Exif {

// The block (from its TIFF header on) for a result of width x height whose
// pixels were turned upright (`turned`) or stand as the source's did: the
// orientation 1 when turned and as it was when not, the pixel sizes of the
// Exif directory the result's own, and no thumbnail (the link to the second
// directory, which holds it, cut: a thumbnail of the unturned, unscaled
// picture would show something else). Edited in place, so everything else, a
// maker note's own offsets included, stays as the camera wrote it; a block
// whose first directory is cut short is written anew from its whole entries.
// Empty when the block is not readable: a block that might still say
// "turned" is not kept.
std::vector<uint8_t> ForResult(const std::vector<uint8_t>& block, uint32_t width, uint32_t height, bool turned);

// The resolution the block's first directory gives, in pixels an inch; false
// when it gives none.
bool Resolution(const std::vector<uint8_t>& block, double& dpiX, double& dpiY);

}  // namespace Exif
