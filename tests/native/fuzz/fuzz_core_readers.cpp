// The door's own readers on any bytes: icons and cursors (directory, bitmap
// images, masks), GIF through giflib and WebP through libwebp (with our
// screen composition and limits around them), and JPEG 2000 through
// OpenJPEG (our stream and sample conversion around it). Whatever they
// return, a picture they call read must be whole and within the request.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "converter/readers/Gif.h"
#include "converter/readers/IcoCur.h"
#include "converter/readers/Jpeg2000.h"
#include "converter/readers/Webp.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

void Check(const ReadResult& result, const Decoded& decoded, const ReadRequest& request) {
    if (!result.Ok()) return;
    if (!decoded.image.Valid()) Fail("read, but the picture is not whole");
    if (uint64_t{decoded.image.width} * decoded.image.height > request.maxPixels) Fail("more pixels than allowed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = 1 << 22;

    // As the door reads an icon: its largest image chosen, a bitmap one decoded.
    IcoCur::Choice choice;
    if (IcoCur::Choose(data, size, choice).Ok() && !choice.png) {
        Decoded icon;
        Check(IcoCur::ReadBitmap(data + choice.offset, choice.size, request, icon), icon, request);
    }

    Decoded jpeg2000;
    Check(Jpeg2000Reader::Read(data, size, request, jpeg2000), jpeg2000, request);

    Decoded gif;
    Check(Gif::Read(data, size, request, gif), gif, request);

    Decoded webp;
    Check(Webp::Read(data, size, request, webp), webp, request);
    return 0;
}
