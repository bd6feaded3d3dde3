// A Windows bitmap with 8-bit run-length compression (BI_RLE8): a palette of
// up to 256 colours, rows bottom-up, each row as encoded runs and absolute
// stretches, an end-of-line after every row and an end-of-bitmap at the end.
// Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Rle8 {

// The compressed rows alone, bottom row first, as biSizeImage counts them.
// The indices must be valid (width * height of them, each < 256).
std::vector<uint8_t> CompressRows(const IndexedImage& image);

// The whole file (BITMAPFILEHEADER, BITMAPINFOHEADER, palette, rows). Empty
// when the picture is not valid (sizes, palette of 1 to 256 colours, indices
// within it) or its file would pass 4 GiB.
std::vector<uint8_t> Write(const IndexedImage& image);

}  // namespace Rle8
