// ZSoft PCX: 1 bit (black and white, or up to four planes onto the header's
// 16 colours), 2 and 4 bits packed onto the header's colours, 8 bits with the
// 256-colour palette after the 0x0C marker (grey without one), and 24 or 32
// bits in three or four planes; raw or run-length encoded. Pure: no Windows
// types.
#pragma once

#include "converter/readers/Reader.h"

namespace Pcx {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Pcx
