// Windows and OS/2 bitmaps: a "BM" file, or a bare device-independent bitmap
// (an information header with no file header, as the clipboard writes
// them as .dib). Every header kind (OS/2 1.x core, OS/2 2.x in its 16 to
// 64-byte lengths, INFO, V2 to V5), 1, 2, 4, 8, 16, 24 and 32 bits, bit
// fields and alpha bit fields with any masks, RLE4 and RLE8, rows stored top
// down. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Bmp {

// A bitmap may carry a whole JPEG or PNG file in place of its pixels.
enum class Embedded { None, Jpeg, Png };

struct Stream {
    Embedded kind = Embedded::None;
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The picture; for a bitmap whose pixels are an embedded JPEG or PNG it
// returns Ok with `stream` set and `out` left empty, for the caller's reader
// of that kind.
ReadResult ReadOrLocate(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out, Stream& stream);

// As above, an embedded stream being Unsupported: the byte reader's shape.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Bmp
