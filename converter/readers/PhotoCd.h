// Kodak Photo CD image packs (.pcd): the base picture, 768 x 512, stored
// uncompressed as PhotoYCC (luma at full size, two chroma planes at half
// size) and converted to sRGB. Portrait pictures are stored lying on their
// side; the header's rotation comes back as the orientation. Pure: no
// Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace PhotoCd {

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace PhotoCd
