// Photoshop documents (.psd .pdd, and the large-document variant): the merged
// picture every such file carries after its layers. Bitmap, grey (duotone as
// grey), indexed, RGB, CMYK, Lab (through Little CMS) and multichannel; 8 and
// 16 bits a channel, 32-bit floats for grey and RGB; raw, PackBits or ZIP
// with or without prediction; any number of extra channels. CMYK is shown as
// a viewer without colour management shows it. Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace Psd {

// A file whose merged picture is missing (cut off after the layers, or
// marked as not kept by the program that saved it) gives NoPicture.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Psd
