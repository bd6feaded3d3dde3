// Any bytes as a JPEG head and as a TIFF file: no read outside them, an
// orientation of 1 to 8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "converter/metadata/ExifOrientation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
    const std::vector<uint8_t> bytes(data, data + size);
    const int orientation = ExifOrientation::Read(bytes.data(), bytes.size());
    if (orientation < 1 || orientation > 8) abort();
    const int tiff = ExifOrientation::ReadTiff([&bytes](uint64_t offset, uint8_t* into, size_t want) -> size_t {
        if (offset >= bytes.size()) return 0;
        const size_t n = want < bytes.size() - offset ? want : static_cast<size_t>(bytes.size() - offset);
        std::memcpy(into, bytes.data() + offset, n);
        return n;
    });
    if (tiff < 1 || tiff > 8) abort();
    return 0;
}
