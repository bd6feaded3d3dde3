// PDF 1.4: one A4 page with the picture centred on it, keeping its aspect
// ratio, as an image XObject whose stream is a JPEG stream (DCTDecode) or
// run-length-encoded RGB; a cross-reference table with every object's
// offset. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/writers/Page.h"

namespace Pdf {

// The whole file for pixels from Page::FromJpeg or Page::FromImage. Empty
// when they hold no picture.
std::vector<uint8_t> Write(const Page::Pixels& pixels);

}  // namespace Pdf
