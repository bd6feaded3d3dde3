// Truevision TGA: colour-mapped, true-colour and grey pictures, raw and
// run-length encoded (image types 1, 2, 3, 9, 10, 11), 8, 15, 16, 24 and 32
// bits a pixel, stored from any corner. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Tga {

// TGA has no magic bytes: the caller offers a file by its extension, and
// the header alone decides whether it is taken (NotThisFormat when its
// fields do not fit together).
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Tga
