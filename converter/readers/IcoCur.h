// Windows icon (.ico) and cursor (.cur) files: a directory of images, each
// a device-independent bitmap with its AND mask or a PNG stream. The largest
// image is the picture. Bitmap images are decoded here; a PNG image is handed
// back for the platform's PNG reader. Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace IcoCur {

// Where the chosen image lies in the file.
struct Choice {
    size_t offset = 0;
    size_t size = 0;
    bool png = false;  // a PNG stream; else a bitmap (header, colours, XOR pixels, AND mask)
    bool cursor = false;
};

// The image with the most pixels (its own header's size, not the
// directory's), the deepest colours among equals. NotThisFormat when the
// bytes hold no icon or cursor directory, Damaged when no entry is usable.
ReadResult Choose(const uint8_t* data, size_t size, Choice& choice);

// One bitmap image of an icon or cursor (from its BITMAPINFOHEADER on):
// 1, 4, 8, 24 and 32 bits a pixel; the AND mask makes pixels transparent,
// and a 32-bit image's own alpha counts where any pixel has some.
ReadResult ReadBitmap(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace IcoCur
