// Metadata in a JPEG file's marker segments: JFIF density (APP0), Exif and
// XMP (APP1), the ICC profile in numbered chunks (APP2). Read from a source's
// bytes, and put into an encoder's bytes in place of whatever segments of
// those kinds the encoder wrote, so any encoder's output can carry them. Pure:
// no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/base/Decoded.h"

namespace JpegMarkers {

// Fills what the segments before the image data give: the resolution from
// JFIF (else from Exif), the Exif block, the XMP packet and the ICC profile
// (only when all its chunks are there). False when the bytes are no JPEG.
bool Read(const uint8_t* data, size_t size, Metadata& out);

// The JPEG `jpeg` with `metadata`'s segments after its start: JFIF with the
// resolution (the encoder's own JFIF segment when there is none), then Exif,
// XMP and the profile. Parts too large for a segment are left out. Empty
// when `jpeg` is no JPEG.
std::vector<uint8_t> Embed(const std::vector<uint8_t>& jpeg, const Metadata& metadata);

}  // namespace JpegMarkers
