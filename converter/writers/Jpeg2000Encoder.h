// The converter's encoders for JPEG 2000: the JP2 file and the bare code
// stream, both lossless.
#pragma once

#include "converter/writers/EncodeOptions.h"

namespace Jpeg2000Encoder {

HRESULT ToJp2(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToJ2k(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);

}  // namespace Jpeg2000Encoder
