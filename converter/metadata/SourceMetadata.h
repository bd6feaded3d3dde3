// What a source file says besides its pixels, read from its own bytes
// whatever reads the pixels, and what of it a result keeps. Pure: no
// Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/base/Decoded.h"

namespace SourceMetadata {

// Reads JPEG, PNG, TIFF and bitmap files by their first bytes; leaves `out`
// alone for anything else. Never reads outside the bytes.
void FromFile(const uint8_t* data, size_t size, Metadata& out);

// The metadata of a result that stands upright at width x height, turned
// from the source by `orientation` (1 to 8): the Exif block and the XMP
// packet say orientation 1 and the result's size, the thumbnail is gone; the
// resolution across and down swap when the picture was turned sideways; the
// profile as it is.
Metadata ForResult(const Metadata& source, uint32_t width, uint32_t height, int orientation = 1);

}  // namespace SourceMetadata
