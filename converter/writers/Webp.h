// WebP, lossy at the chosen quality or lossless, alpha kept, written by
// libwebp's encoder; the source's ICC profile, Exif block and XMP packet in
// the extended container's chunks. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Decoded.h"
#include "converter/base/Image.h"

namespace Webp {

// The largest width and height the format holds.
constexpr uint32_t MaxSide = 16383;

// The file's bytes; empty when the picture is larger than the format holds
// or the encoder fails. `quality` 1 .. 100 for lossy results.
std::vector<uint8_t> Write(const Image& image, int quality, bool lossless);

// A WebP file (as Write makes it) with the metadata's profile, Exif and XMP
// put into the extended container (VP8X); empty when `webp` is no WebP file
// this understands. Without metadata, the bytes as they are.
std::vector<uint8_t> Embed(const std::vector<uint8_t>& webp, const Metadata& metadata);

}  // namespace Webp
