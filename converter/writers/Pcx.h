// ZSoft PCX version 5, 24 bits a pixel as three 8-bit planes (red, green,
// blue) a scan line, run-length encoded. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Pcx {

// The header keeps the last column and the even bytes-a-plane-line in 16 bits.
constexpr uint32_t MaxWidth = 65534;
constexpr uint32_t MaxHeight = 65536;

// The whole file; alpha is left out (the picture is opaque by then). The
// resolution in dots an inch, rounded into the header's 16 bits. Empty when
// the picture is not valid or larger than the format allows.
std::vector<uint8_t> Write(const Image& image, double dpiX = 72, double dpiY = 72);

}  // namespace Pcx
