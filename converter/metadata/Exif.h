// The Exif block a result keeps: the source's, edited only where the result
// differs from the source. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

namespace Exif {

// The block (from its TIFF header on) for a result that stands upright at
// width x height: orientation 1, the pixel sizes of the Exif directory the
// result's own, and no thumbnail (the link to the second directory, which
// holds it, cut: a thumbnail of the unturned, unscaled picture would show
// something else). Edited in place, so everything else, a maker note's own
// offsets included, stays as the camera wrote it. Empty when the block is
// not readable: a block that might still say "turned" is not kept.
std::vector<uint8_t> ForResult(const std::vector<uint8_t>& block, uint32_t width, uint32_t height);

// The orientation (1 to 8) the block's first directory gives; 1 when none.
int Orientation(const std::vector<uint8_t>& block);

// The resolution the block's first directory gives, in pixels an inch; false
// when it gives none.
bool Resolution(const std::vector<uint8_t>& block, double& dpiX, double& dpiY);

}  // namespace Exif
