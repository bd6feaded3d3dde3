// WebP, lossy or lossless, with or without alpha, decoded by libwebp; of an
// animation the first frame at its place on the canvas. Pure: no Windows
// types.
#pragma once

#include "converter/readers/Reader.h"

namespace Webp {

bool IsWebp(const uint8_t* head, size_t size);

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Webp
