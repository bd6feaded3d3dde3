// JPEG through libjpeg-turbo: YCbCr with 4:2:0 chroma subsampling (what
// cameras write for photos), optimised Huffman tables, and the metadata the
// source carried (JFIF density, Exif, XMP, ICC profile) as its markers.
// Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"
#include "converter/readers/Reader.h"

namespace Jpeg {

// The whole file at `quality` (1 to 100, clamped); alpha is left out (the
// picture is opaque by then). `metadata` may be nullptr; its blocks are
// written as they stand, each one left out when it exceeds what its marker
// holds. Empty when the picture is not valid or larger than the format allows.
std::vector<uint8_t> Write(const Image& image, int quality, const Metadata* metadata);

// JPEG's sides are 16-bit numbers.
constexpr uint32_t MaxSide = 65535;

}  // namespace Jpeg
