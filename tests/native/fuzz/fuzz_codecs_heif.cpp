// The HEIF reader on any bytes, with libheif (the host's build of the same
// Debian version) under it: the file-type check, the budget asked before
// decoding, the pixels taken from libheif, the Exif item's TIFF block and the
// un-premultiplying. Byte 0 picks the pixel cap and whether the budget says
// no; the rest is the file. What the reader accepts must be a whole upright
// picture within the cap whose Exif block says no orientation but 1; what it
// refuses must leave nothing behind; a refused budget must be a refusal.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "converter/metadata/ExifOrientation.h"
#include "converter/readers/Heif.h"
#include "tests/native/fuzz/FuzzFail.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data, --size;

    ReadRequest request;
    request.maxPixels = (mode & 1) ? uint64_t{1} << 16 : uint64_t{1} << 22;
    bool asked = false;
    const bool refuse = (mode & 2) != 0;
    request.admit = [&](PixelSize decoded, uint64_t decoderBytes) {
        if (asked) Fail("HEIF: the budget asked twice");
        asked = true;
        if (uint64_t{decoded.width} * decoded.height > request.maxPixels) Fail("HEIF: asked beyond the cap");
        if (decoderBytes == 0) Fail("HEIF: the decoder's own memory not asked for");
        return !refuse;
    };
    Decoded decoded;
    const ReadResult result = Heif::Read(data, size, request, decoded);
    if (result.status != ReadStatus::NotThisFormat && !Heif::IsHeif(data, size)) Fail("HEIF: read a non-HEIF file");
    if (result.Ok()) {
        if (refuse) Fail("HEIF: decoded after the budget said no");
        if (!asked) Fail("HEIF: decoded without asking the budget");
        if (!decoded.image.Valid()) Fail("HEIF: Ok without a whole picture");
        if (uint64_t{decoded.image.width} * decoded.image.height > request.maxPixels) Fail("HEIF: beyond the cap");
        if (decoded.orientation != 1) Fail("HEIF: left to be turned again");
        const std::vector<uint8_t>& exif = decoded.metadata.exif;
        if (!exif.empty() && ExifOrientation::FromTiff(exif.data(), exif.size()) != 1)
            Fail("HEIF: the Exif block still turns it");
    } else if (!decoded.image.bgra.empty() || !decoded.metadata.exif.empty()) {
        Fail("HEIF: a refusal left a picture behind");
    }

    // The Exif item's own parsing and the un-premultiplying on the raw bytes.
    const std::vector<uint8_t> body = Heif::ExifBody(data, size);
    if (!body.empty() && (body.size() > size || body.size() < 8)) Fail("HEIF: Exif body outside the item");
    Image image;
    image.width = static_cast<uint32_t>(size / 4);
    image.height = image.width ? 1 : 0;
    image.bgra.assign(data, data + size_t{image.width} * 4);
    const std::vector<uint8_t> before = image.bgra;
    Heif::Unpremultiply(image);
    for (size_t i = 0; i + 3 < image.bgra.size(); i += 4) {
        const uint32_t a = before[i + 3];
        for (size_t c = 0; c < 3; ++c) {
            if (a == 0 || a == 255) {
                if (image.bgra[i + c] != before[i + c]) Fail("HEIF: un-premultiplied an opaque or clear pixel");
            } else if (before[i + c] <= a) {
                // Premultiplied back, it must give the stored value within rounding.
                const uint32_t again = (image.bgra[i + c] * a + 127) / 255;
                if (again + 1 < before[i + c] || again > before[i + c] + 1) Fail("HEIF: un-premultiplied wrong");
            }
        }
    }
    return 0;
}

// dav1d (the host's libdav1d under libheif) leaks a small block on some
// damaged AV1 streams: the library's, not the reader's, and a worker
// process ends after its picture.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }
