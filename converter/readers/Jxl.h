// JPEG XL, a bare codestream or in its box container, decoded by libjxl:
// the picture as stored (its orientation handed on, not applied), in its
// own colour space with that space's profile, or in sRGB where the decoder
// chooses; 16 bits and floats reduced to 8, alpha straight; of an animation
// the first frame at canvas size; Exif and XMP from the container's boxes
// (Brotli-compressed ones unpacked). A file that recompresses a JPEG is
// decoded to pixels like any other. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Jxl {

// The codestream's mark (FF 0A) or the container's signature box.
bool IsJxl(const uint8_t* head, size_t size);

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// What the decoder is thought to hold beside the picture while decoding one
// of `pixels` pixels with `channels` channels (colour and extra): its
// floating-point planes, twice over for the frames it blends, and tables.
uint64_t DecoderBytes(uint64_t pixels, uint32_t channels);

// The body of an Exif box (a 4-byte offset to the TIFF header, then the
// block) as an Exif block from its TIFF header on; empty when the offset
// points outside the box.
std::vector<uint8_t> ExifFromBox(const uint8_t* box, size_t size);

}  // namespace Jxl
