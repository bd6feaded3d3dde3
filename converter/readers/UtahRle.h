// The Utah Raster Toolkit's run-length format (".rle", as old Unix
// graphics tools and ray tracers wrote it): 8-bit channels, grey or RGB,
// optional alpha and colour map, run-length coded scanlines from the bottom
// up. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace UtahRle {

// The two magic bytes every such file starts with (0xCC52, little-endian).
bool IsUtahRle(const uint8_t* data, size_t size);

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace UtahRle
