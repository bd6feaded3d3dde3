// TIFF read through libtiff, the first page: strips or tiles, chunky or
// planar; none, LZW, Deflate, PackBits, JPEG (old and new), CCITT fax and
// LZMA and the rarer codecs libtiff has; 1 to 16 bits (9 to 15 unpacked), 32-bit integers and 16-, 32-
// and 64-bit floats (0 to 1 shown as black to white); palette, grey, RGB,
// CMYK (through its embedded profile into sRGB when it has one), YCbCr,
// CIE L*a*b* and LogLuv; associated and unassociated alpha (the first extra
// sample, as ImageMagick takes it). The orientation tag of the same
// directory, and resolution, ICC profile, XMP and the Exif tags through
// TiffTags.h. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Tiff {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Tiff
