// The converter's encoders for the formats it writes with pure writers of its
// own (JPEG 2000 apart: converter/writers/Jpeg2000Encoder.h): each takes the
// writer of its format and adds what only WIC gives (a palette made from the
// picture, by way of converter/writers/WicEncoders.h).
#pragma once

#include "converter/writers/EncodeOptions.h"

namespace FormatEncoders {

HRESULT ToJpeg(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToPng(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToTiff(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToRle(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToPcx(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToIco(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToWbmp(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToPostScript(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
// WebP, for the wizard: lossy at the JPEG quality, or lossless.
HRESULT ToWebp(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToWebpLossless(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT ToPdf(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);

}  // namespace FormatEncoders
