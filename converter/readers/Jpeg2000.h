// JPEG 2000 pictures, the JP2 file (.jp2) and the bare code stream (.j2k,
// .jpc, .j2c), decoded by OpenJPEG: grey, RGB, YCC and CMYK, with alpha as
// the channel-definition box names it, any precision up to 16 bits (and
// beyond, scaled), sub-sampled components spread over the full grid. A code
// stream too large for memory is decoded at a lower resolution level.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace Jpeg2000Reader {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Jpeg2000Reader
