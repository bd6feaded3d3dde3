// The PNG and TIFF readers on any bytes (byte 0: even PNG, odd TIFF), and
// every picture they read written as TIFF, with its metadata put in, and read
// back: the same pixels (alpha kept where some pixel is transparent, colour
// under a fully transparent pixel aside) and the same Exif, XMP and profile.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "converter/metadata/TiffTags.h"
#include "converter/readers/Png.h"
#include "converter/readers/Tiff.h"
#include "converter/writers/Tiff.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

void CheckWritten(const Decoded& decoded) {
    const std::vector<uint8_t> written = Tiff::Write(decoded.image);
    if (written.empty()) Fail("TIFF: the reader's picture not writable");
    Metadata metadata = decoded.metadata;
    const std::vector<uint8_t> tagged = TiffTags::Embed(written, metadata);
    if (tagged.empty()) Fail("TIFF: metadata not embeddable in our own file");
    ReadRequest request;
    Decoded back;
    if (!Tiff::Read(tagged.data(), tagged.size(), request, back).Ok()) Fail("TIFF: our own file not readable");
    const Image& a = decoded.image;
    const Image& b = back.image;
    if (a.width != b.width || a.height != b.height) Fail("TIFF: size changed");
    for (size_t i = 0; i < a.bgra.size(); i += 4) {
        if (a.bgra[i + 3] != b.bgra[i + 3]) Fail("TIFF: alpha changed");
        if (a.bgra[i + 3] != 0 && (a.bgra[i] != b.bgra[i] || a.bgra[i + 1] != b.bgra[i + 1] || a.bgra[i + 2] != b.bgra[i + 2]))
            Fail("TIFF: colour changed");
    }
    if (back.metadata.icc != metadata.icc) Fail("TIFF: profile changed");
    if (back.metadata.xmp != metadata.xmp) Fail("TIFF: XMP changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    ReadRequest request;
    request.maxPixels = 1u << 20;
    Decoded decoded;
    const ReadResult result = (data[0] & 1) ? Tiff::Read(data + 1, size - 1, request, decoded)
                                            : Png::Read(data + 1, size - 1, request, decoded);
    if (!result.Ok()) {
        if (decoded.image.Valid()) Fail("pixels left behind a failure");
        return 0;
    }
    if (!decoded.image.Valid()) Fail("Ok without a picture");
    if (decoded.orientation < 1 || decoded.orientation > 8) Fail("orientation out of range");
    if (uint64_t{decoded.image.width} * decoded.image.height > request.maxPixels) Fail("over the pixel cap");
    CheckWritten(decoded);
    return 0;
}
