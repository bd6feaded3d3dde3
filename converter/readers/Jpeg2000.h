// JPEG 2000 pictures, the JP2 file (.jp2) and the bare code stream (.j2k,
// .jpc, .j2c), decoded by OpenJPEG: grey, RGB, YCC and CMYK, with alpha as
// the channel-definition box names it, any precision up to 16 bits (and
// beyond, scaled), sub-sampled components spread over the full grid. A
// picture that will be fitted into a smaller box is decoded at a lower
// resolution level, as far as the fit allows (Decoded::full then tells its
// stored size); one too large for the codec's memory is decoded in bands of
// rows, never at a lower level, or refused with its reason.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace Jpeg2000Reader {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// The same with the codec's memory capped at `codecBudget` bytes (Read's is
// a few hundred MiB): lets a test see the banded decoding on small pictures.
ReadResult ReadWithin(const uint8_t* data, size_t size, const ReadRequest& request, uint64_t codecBudget,
                      Decoded& out);

}  // namespace Jpeg2000Reader
