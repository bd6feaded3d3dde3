// The converter's encoders for the formats the platform's imaging component
// does not write (JPEG 2000 apart: converter/writers/): each takes the pure writer of its format and adds what
// only WIC gives (a palette made from the picture, JPEG and PNG streams, by
// way of converter/writers/WicEncoders.h).
#pragma once

#include "converter/Formats.h"

namespace FormatEncoders {

HRESULT ToRle(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToPcx(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToIco(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToWbmp(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToPostScript(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToPdf(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);

}  // namespace FormatEncoders
