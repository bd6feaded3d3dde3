// Alias/Wavefront PIX: a 10-byte big-endian header, then 24-bit (blue,
// green, red) or 8-bit (grey, the matte variant) pixels in run-length
// packets, top line first. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace AliasPix {

// The format has no magic bytes: the caller offers it by extension, and a
// header whose fields do not fit is NotThisFormat.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace AliasPix
