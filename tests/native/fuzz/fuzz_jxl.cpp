// The JPEG XL reader on any bytes, through libjxl (the host's build of the
// Debian version the product links): our admission, output buffer, colour
// choice, box collection (Exif and XMP, Brotli-compressed or not) and
// orientation around it. Byte 0 picks how much memory the budget grants, so
// that refusals happen too. Whatever it returns, a picture it calls read
// must be whole, within the request, turned by a valid orientation, with
// its blocks within their cap; one it refused leaves nothing behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "converter/metadata/ExifOrientation.h"
#include "converter/readers/Jxl.h"
#include "tests/native/fuzz/FuzzFail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    ReadRequest request;
    request.maxPixels = 1 << 20;
    const uint64_t grant = uint64_t{1} << (16 + (data[0] & 15));
    int asked = 0;
    request.admit = [&](PixelSize, uint64_t decoderBytes) {
        ++asked;
        return decoderBytes <= grant;
    };
    Decoded decoded;
    const ReadResult result = Jxl::Read(data + 1, size - 1, request, decoded);
    if (asked > 1) Fail("the budget asked more than once");
    if (!result.Ok()) {
        if (decoded.image.Valid() || !decoded.metadata.exif.empty()) Fail("something left behind a failure");
        return 0;
    }
    if (asked != 1) Fail("read without asking the budget");
    if (!decoded.image.Valid()) Fail("read, but the picture is not whole");
    if (uint64_t{decoded.image.width} * decoded.image.height > request.maxPixels) Fail("more pixels than allowed");
    if (decoded.orientation < 1 || decoded.orientation > 8) Fail("orientation out of range");
    for (const auto* block : {&decoded.metadata.icc, &decoded.metadata.exif, &decoded.metadata.xmp})
        if (block->size() > MaxMetadataBlockBytes) Fail("a block above its cap");
    // Pixels that stand as stored never keep an Exif block that says "turned".
    if (decoded.orientation == 1 && !decoded.metadata.exif.empty() &&
        ExifOrientation::FromTiff(decoded.metadata.exif.data(), decoded.metadata.exif.size()) != 1)
        Fail("Exif says turned over pixels as stored");

    // The Exif box's body on its own: the block lies inside it.
    const std::vector<uint8_t> exif = Jxl::ExifFromBox(data + 1, size - 1);
    if (exif.size() > size) Fail("an Exif block larger than its box");
    return 0;
}
