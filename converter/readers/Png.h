// PNG read through libspng: every colour type and bit depth, tRNS,
// interlaced or not; of an animated PNG the default image (its IDAT), which
// every viewer without animation shows. 16-bit samples are cut to 8. The
// orientation is the eXIf chunk's.
// Colour: an iCCP profile is carried as the picture's profile; sRGB means
// none is needed; a gAMA (and cHRM) other than sRGB's is made into a profile
// of its own, so the one colour path (ColourProfile.h) treats them alike.
// Resolution, Exif and XMP come from the chunks (PngChunks.h). Pure: no
// Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Png {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Png
