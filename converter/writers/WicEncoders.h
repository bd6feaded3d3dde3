// The formats the platform's imaging component writes itself.
#pragma once

#include "converter/writers/EncodeOptions.h"

namespace WicEncoders {

HRESULT Gif(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);
HRESULT Bmp(const EncodeOptions& options, const Image& image, std::vector<uint8_t>& out);

// What becomes of the alpha channel: dropped (24-bit BGR), kept when some
// pixel is transparent, or always written as 32-bit BGRA (an encoder that
// will not take that fails with WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT).
enum class Alpha { Drop, WhenTransparent, Always };

// Any WIC encoder: the picture as 24-bit BGR or 32-bit BGRA by `alpha`; the
// encoder may take it in a pixel format of its own choosing (GIF: a palette,
// made by Reduce). `quality` 0 leaves the encoder's default.
HRESULT Encode(IWICImagingFactory* wic, const GUID& container, const Image& image, Alpha alpha, float quality,
               std::vector<uint8_t>& out);

// The picture reduced to at most `colours` (up to 256): WIC makes the palette
// from the picture, then our own error diffusion onto it.
HRESULT Reduce(IWICImagingFactory* wic, const Image& image, IndexedImage& indexed, UINT colours = 256);

// The palette entry of a GIF's transparent pixels (those less than half
// opaque); the others are put onto white.
constexpr uint8_t TransparentIndex = 0;

}  // namespace WicEncoders
