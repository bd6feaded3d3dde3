// Any bytes as a JPEG head: no read outside them, an orientation of 1 to 8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "converter/ExifOrientation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
    const std::vector<uint8_t> bytes(data, data + size);
    const int orientation = ExifOrientation::Read(bytes.data(), bytes.size());
    if (orientation < 1 || orientation > 8) abort();
    return 0;
}
