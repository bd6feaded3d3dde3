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

// The metadata of a result that stands upright at width x height, its pixels
// turned from the source's by `orientation` (1 to 8; 1: not turned): the
// Exif block and the XMP packet say the result's size and, when the pixels
// were turned, orientation 1 (else the orientation stays as it was); the
// thumbnail is gone; the resolution across and down swap when the picture
// was turned sideways; the profile as it is.
Metadata ForResult(const Metadata& source, uint32_t width, uint32_t height, int orientation = 1);

}  // namespace SourceMetadata
