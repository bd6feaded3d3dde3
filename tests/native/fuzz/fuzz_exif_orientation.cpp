// Any bytes as an Exif block and as a TIFF file: no read outside them, an
// orientation of 1 to 8, the same whether read from memory or through a
// file's reads; and the block a result keeps, read back by the walker, says
// orientation 1 exactly when the pixels were turned (else the entry as it
// was), the result's size, and is kept whenever the source's was readable.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "converter/metadata/Exif.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/metadata/TiffIfd.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

bool SameEntry(const TiffIfd::Entry* a, const TiffIfd::Entry* b) {
    if (!a || !b) return a == b;
    return a->type == b->type && a->count == b->count && a->value == b->value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
    const std::vector<uint8_t> bytes(data, data + size);
    const int orientation = ExifOrientation::FromTiff(bytes.data(), bytes.size());
    if (orientation < 1 || orientation > 8) Fail("orientation out of range");
    const int fromFile = ExifOrientation::ReadTiff(
        [&bytes](uint64_t offset, uint8_t* into, size_t want) -> size_t {
            if (offset >= bytes.size()) return 0;
            const size_t n = want < bytes.size() - offset ? want : static_cast<size_t>(bytes.size() - offset);
            std::memcpy(into, bytes.data() + offset, n);
            return n;
        },
        bytes.size());
    if (fromFile != orientation) Fail("file reads and memory disagree");

    TiffIfd::Structure source;
    if (!TiffIfd::Read(bytes.data(), bytes.size(), source)) return 0;
    const bool turned = orientation != 1;
    const uint32_t width = 70000, height = 5;  // one LONG, one SHORT
    const std::vector<uint8_t> kept = Exif::ForResult(bytes, width, height, turned);
    if (kept.empty()) Fail("a readable block dropped");
    TiffIfd::Structure result;
    if (!TiffIfd::Read(kept.data(), kept.size(), result)) Fail("the kept block is not readable");
    if (result.cutShort) Fail("the kept block is still cut short");
    const TiffIfd::Entry* before = TiffIfd::Find(source.first, ExifOrientation::Tag);
    const TiffIfd::Entry* after = TiffIfd::Find(result.first, ExifOrientation::Tag);
    if (turned) {
        if (!after || after->type != 3 || after->count != 1 || TiffIfd::Number(after) != 1)
            Fail("turned, yet the orientation is not a single 1");
    } else if (!SameEntry(before, after)) {
        Fail("not turned, yet the orientation changed");
    }
    if (const TiffIfd::Entry* exif = TiffIfd::Find(result.first, TiffIfd::ExifPointer)) {
        const TiffIfd::Entry* x = TiffIfd::Find(exif->directory, 0xA002);
        const TiffIfd::Entry* y = TiffIfd::Find(exif->directory, 0xA003);
        if (x && (x->type == 3 || x->type == 4) && TiffIfd::Number(x) != width) Fail("width not the result's");
        if (y && (y->type == 3 || y->type == 4) && TiffIfd::Number(y) != height) Fail("height not the result's");
    }
    if (result.nextLinkAt != 0 && result.nextLinkAt + 4 <= kept.size() &&
        (kept[result.nextLinkAt] | kept[result.nextLinkAt + 1] | kept[result.nextLinkAt + 2] |
         kept[result.nextLinkAt + 3]) != 0)
        Fail("the thumbnail still linked");
    return 0;
}
