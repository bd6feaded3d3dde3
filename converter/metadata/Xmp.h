// The XMP packet a result keeps. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

namespace Xmp {

// The packet with every tiff:Orientation (as an attribute or an element) set
// to 1, for a result whose pixels were turned upright. The value is one digit
// before and after, so the packet keeps its length and any padding.
std::vector<uint8_t> ForResult(std::vector<uint8_t> packet);

}  // namespace Xmp
