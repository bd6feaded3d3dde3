// Wireless bitmap, type 0: one bit a pixel (1 white), rows padded to whole
// bytes, sizes as multi-byte integers. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Wbmp {

// Its only "magic" is the two zero bytes of type 0 and the fixed header,
// which many files begin with: the caller offers it by extension.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Wbmp
