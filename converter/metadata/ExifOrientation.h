// The orientation tag (0x0112) of a JPEG's Exif block or of a TIFF file's
// first directory, read from the file's own bytes. Pure: no Windows types.
// Our own because the imaging component under Wine reads no JPEG metadata
// at all (a photo taken with the camera turned would come out on its side),
// and because its metadata reader dies on a TIFF whose directories loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace ExifOrientation {

// The head of a JPEG file worth reading: the Exif block must be among the
// first segments, and a segment is at most 64 KiB.
constexpr size_t HeadBytes = 256 * 1024;

// 1 (as stored) to 8; 1 when the bytes hold no JPEG, no Exif block, no tag,
// or anything out of bounds or out of range.
int Read(const uint8_t* data, size_t size);

// Reads up to `size` bytes at `offset` of a file into `into`; returns how
// many it got (fewer at the file's end or on an error).
using ReadAt = std::function<size_t(uint64_t offset, uint8_t* into, size_t size)>;

// The tag in a TIFF file's first directory, wherever in the file that
// directory lies (libtiff writes it after the pixels). Only the header and
// that one directory are read, so a chain of directories that loops does
// not matter. 1 for anything that is no classic TIFF, out of bounds or out
// of range.
int ReadTiff(const ReadAt& readAt);

// The same from an Exif block's body, its TIFF header on (as a JPEG's APP1
// holds it after "Exif\0\0").
int FromTiff(const uint8_t* data, size_t size);

}  // namespace ExifOrientation
