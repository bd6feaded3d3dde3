// The formats the platform's imaging component writes itself.
#pragma once

#include "converter/Formats.h"

namespace WicEncoders {

HRESULT Jpeg(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT Gif(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT Bmp(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT Tiff(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT Png(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);

// Any WIC encoder: the picture as 24-bit BGR when it is opaque (or the
// container keeps no alpha), else as 32-bit BGRA; the encoder may take it
// in a pixel format of its own choosing (GIF: a palette of its own).
// `quality` 0 leaves the encoder's default.
HRESULT Encode(IWICImagingFactory* wic, const GUID& container, const Image& image, bool keepAlpha,
               float quality, std::vector<uint8_t>& out);

}  // namespace WicEncoders
