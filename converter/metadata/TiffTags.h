// Metadata in a TIFF file's first directory: resolution (282, 283, 296), XMP
// (700), the ICC profile (34675), the camera's descriptive tags and its Exif
// and GPS directories. Read from a source's bytes; written into an encoder's
// bytes by appending a new first directory that holds the encoder's entries
// and these, so the result is the same whatever the encoder would take. Pure:
// no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "converter/base/Decoded.h"
#include "converter/base/RandomAccess.h"

namespace TiffTags {

// Fills everything the first directory gives; the Exif block is made from
// the descriptive tags and the Exif and GPS directories. False when the bytes
// are no TIFF.
bool Read(const uint8_t* data, size_t size, Metadata& out);
// The same from a file of `size` bytes read through `readAt`.
bool Read(const std::function<size_t(uint64_t offset, uint8_t* into, size_t size)>& readAt, uint64_t size,
          Metadata& out);

// `tiff` (one page) with `metadata` in its first directory; the Exif block's
// descriptive tags go there only where the encoder wrote none, but for its
// orientation and pointers, which replace the encoder's. Empty when
// `tiff` is no TIFF or would pass 4 GiB.
std::vector<uint8_t> Embed(const std::vector<uint8_t>& tiff, const Metadata& metadata);

// The same in place, in a file the metadata's directory is appended to (a
// result written as it was made); false, the file then no valid TIFF, when
// Embed would give nothing or the file could not be written.
bool EmbedInto(RandomAccess& tiff, const Metadata& metadata);

}  // namespace TiffTags
