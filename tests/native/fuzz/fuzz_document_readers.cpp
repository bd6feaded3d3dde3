// The Photoshop, Photo CD, Group 3 fax and Paint Shop Pro readers on any
// bytes: each either reads a valid picture or says why not, within the pixel
// cap, and never reads outside the input (AddressSanitizer watches).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "converter/readers/G3Fax.h"
#include "converter/readers/PaintShopPro.h"
#include "converter/readers/PhotoCd.h"
#include "converter/readers/Psd.h"

namespace {

void Check(ByteReader reader, const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 22;  // room for a fax page, not for a fuzzer's giant
    Decoded out;
    const ReadResult result = reader(data, size, request, out);
    if (result.Ok() && (!out.image.Valid() || uint64_t{out.image.width} * out.image.height > request.maxPixels ||
                        out.orientation < 1 || out.orientation > 8)) {
        std::fprintf(stderr, "a read picture that is not valid\n");
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(Psd::Read, data, size);
    Check(PhotoCd::Read, data, size);
    Check(G3Fax::Read, data, size);
    Check(PaintShopPro::Read, data, size);
    return 0;
}
