// JPEG 2000 through OpenJPEG, the reference codec: lossless (the reversible
// 5/3 wavelet and colour transform), so a picture decodes to exactly its
// pixels. RGB, plus an alpha channel when any pixel is not opaque. No
// Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Jpeg2000 {

enum class Container {
    Jp2,         // the JP2 file format (.jp2): boxes around the code stream
    CodeStream,  // the bare code stream (.j2k)
};

// Edge of the square tiles the picture is coded in: the codec holds one
// tile's samples at a time, not the whole picture's.
constexpr uint32_t TileSide = 1024;

// The whole file. Empty when the picture is not valid or the codec fails
// (out of memory included).
std::vector<uint8_t> Write(const Image& image, Container container);

}  // namespace Jpeg2000
