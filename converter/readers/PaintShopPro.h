// Paint Shop Pro pictures (.psp .pspimage), file format 4 and later (Paint
// Shop Pro 6 on): the full-size composite picture the file keeps in its
// composite image bank beside the layers. 1, 4 and 8 bits (palette or grey)
// and 24 bits, stored raw, run-length encoded or zlib-compressed (the
// latter only where the converter is built with zlib). Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace PaintShopPro {

// NoPicture, with a reason naming the format, for a file without a full-size
// composite (Paint Shop Pro 5 wrote none; later versions may leave it out).
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace PaintShopPro
