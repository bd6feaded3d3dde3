// TIFF through libtiff: one page, 8-bit RGB, or RGBA with unassociated
// alpha when some pixel is transparent; LZW with horizontal differencing,
// strips of about 256 KB. The metadata is put in afterwards
// (TiffTags::Embed), into the same first directory. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Tiff {

// The whole file; empty when the picture is not valid or the file would
// pass what a TIFF's 32-bit offsets can name.
std::vector<uint8_t> Write(const Image& image);

}  // namespace Tiff
