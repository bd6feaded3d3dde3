// The orientation (tag 0x0112) of an Exif block or of a TIFF file's first
// directory: the one decision whether a picture is turned upright, read by
// the same directory walker (TiffIfd) that edits the result's tags. Pure: no
// Windows types. Our own because the imaging component under Wine reads no
// JPEG metadata at all, and its metadata reader dies on a TIFF whose
// directories loop.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/metadata/TiffIfd.h"

namespace ExifOrientation {

constexpr uint16_t Tag = 0x0112;

// The first value of the first directory's orientation entry when it is a
// SHORT (of any count, as viewers read it) from 1 to 8; else 1 (as stored).
// A directory cut short counts as far as its entries are whole.
int Of(const TiffIfd::Structure& tiff);

// The same from an Exif block's body, its TIFF header on (as a JPEG's APP1
// holds it after "Exif\0\0" and a PNG's eXIf chunk holds it); 1 for anything
// that is no TIFF structure.
int FromTiff(const uint8_t* data, size_t size);

// The same from a TIFF file of `size` bytes read through `readAt`, wherever
// in the file its first directory lies (libtiff writes it after the pixels).
// Only the header, that directory and what it points to are read.
int ReadTiff(const ReadAt& readAt, uint64_t size);

}  // namespace ExifOrientation
