// Dr. Halo CUT: one byte a pixel, run-length encoded line by line, its
// colours in a separate palette file (.pal of the same name) or, without one,
// grey. Pure: no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace HaloCut {

// `palette` is the whole .pal file beside the picture, or null for none; a
// palette file that cannot be read leaves the picture grey as well.
ReadResult Read(const uint8_t* data, size_t size, const uint8_t* palette, size_t paletteSize,
                const ReadRequest& request, Decoded& out);

// Without a palette: the shape a reader table holds.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace HaloCut
