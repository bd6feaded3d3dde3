// The orientation tag (Exif 0x0112) of a JPEG file, read from its first
// bytes. Pure: no Windows types. Our own because the imaging component under
// Wine reads no JPEG metadata at all, and a photo taken with the camera
// turned would come out on its side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ExifOrientation {

// The head of a JPEG file worth reading: the Exif block must be among the
// first segments, and a segment is at most 64 KiB.
constexpr size_t HeadBytes = 256 * 1024;

// 1 (as stored) to 8; 1 when the bytes hold no JPEG, no Exif block, no tag,
// or anything out of bounds or out of range.
int Read(const uint8_t* data, size_t size);

// The same from an Exif block's body, its TIFF header on (as a JPEG's APP1
// holds it after "Exif\0\0").
int FromTiff(const uint8_t* data, size_t size);

}  // namespace ExifOrientation
