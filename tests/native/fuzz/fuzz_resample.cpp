// Resampling from and to any size up to 256 in each direction, with any
// pixels: no read or write outside the pictures, every pixel written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "converter/base/Resampling.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    Image source;
    source.width = 1 + data[0];
    source.height = 1 + data[1];
    const PixelSize to{1u + data[2], 1u + data[3]};
    source.bgra.resize(size_t{source.width} * source.height * 4);
    for (size_t i = 0; i < source.bgra.size(); ++i) source.bgra[i] = size > 4 ? data[4 + i % (size - 4)] : 0;
    const Image out = Resampling::Resize(source, to);
    if (out.width != to.width || out.height != to.height || out.bgra.size() != size_t{to.width} * to.height * 4)
        abort();
    return 0;
}
