// HEIF pictures, HEVC-coded (HEIC, as phones store them) or AV1-coded
// (AVIF), decoded by libheif with libde265 and dav1d: the primary image at
// its full size (a grid's tiles put together), the container's turning,
// mirroring and cropping applied, 8 to 12 bits made 8, alpha straight, the
// colour profile and the Exif and XMP blocks carried. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Heif {

// Whether the file starts with an ISO file-type box naming a HEIF or AVIF
// brand, as major or compatible brand.
bool IsHeif(const uint8_t* head, size_t size);

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// The TIFF structure inside a HEIF Exif item (a 4-byte offset to the TIFF
// header, then the block, sometimes after JPEG's "Exif\0\0"); empty when
// the item holds none.
std::vector<uint8_t> ExifBody(const uint8_t* item, size_t size);

// Straight colour from premultiplied: each of blue, green, red divided by
// alpha, rounded; a transparent pixel stays as it is.
void Unpremultiply(Image& image);

}  // namespace Heif
