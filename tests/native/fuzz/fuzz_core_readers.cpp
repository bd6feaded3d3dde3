// The door's own readers on any bytes: icons and cursors (directory, bitmap
// images, masks), the GIF layout with its composition, and JPEG 2000 through
// OpenJPEG (our stream and sample conversion around it). Whatever they
// return, a picture they call read must be whole and within the request.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "converter/readers/Gif.h"
#include "converter/readers/IcoCur.h"
#include "converter/readers/Jpeg2000.h"

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

    Gif::Layout layout;
    if (Gif::FirstFrame(data, size, layout).Ok()) {
        // A frame of the size the descriptor names, as a decoder would give it.
        Image frame;
        frame.width = layout.width % 97 + 1;
        frame.height = layout.height % 89 + 1;
        frame.bgra.assign(size_t{frame.width} * frame.height * 4, 0x7F);
        Decoded composed;
        const ReadResult result = Gif::Compose(layout, frame, request, composed.image);
        Check(result, composed, request);
        if (result.Ok() && (composed.image.width < layout.left + frame.width ||
                            composed.image.height < layout.top + frame.height))
            Fail("the frame was cut");
    }
    return 0;
}
