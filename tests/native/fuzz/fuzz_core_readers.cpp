// The door's own readers on any bytes: icons and cursors (directory, bitmap
// images, masks), GIF through giflib and WebP through libwebp (with our
// screen composition and limits around them), and JPEG 2000 through
// OpenJPEG (our stream and sample conversion around it). Whatever they
// return, a picture they call read must be whole and within the request.
// An icon's picture also goes round through our icon writer: the strict
// reader of tests/native/model must read the same pixels from that file,
// and so must the icon reader itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "converter/readers/Gif.h"
#include "converter/readers/IcoCur.h"
#include "converter/readers/Jpeg2000.h"
#include "converter/readers/Webp.h"
#include "converter/writers/Ico.h"
#include "model/FormatReaders.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

void Check(const ReadResult& result, const Decoded& decoded, const ReadRequest& request) {
    if (!result.Ok()) return;
    if (!decoded.image.Valid()) Fail("read, but the picture is not whole");
    if (uint64_t{decoded.image.width} * decoded.image.height > request.maxPixels) Fail("more pixels than allowed");
}

// Straight BGRA; the colour of a pixel without any opacity is no part of
// the picture (the icon's mask hides it).
bool SamePixels(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i += 4)
        if (a[i + 3] != b[i + 3] || (a[i + 3] != 0 && std::memcmp(&a[i], &b[i], 3) != 0)) return false;
    return true;
}

void RoundTrip(const Image& picture, const ReadRequest& request) {
    if (picture.width > Ico::MaxSide || picture.height > Ico::MaxSide) return;
    Ico::Entry entry;
    entry.width = picture.width;
    entry.height = picture.height;
    entry.bitmap = picture;
    const std::vector<uint8_t> file = Ico::Write({entry});
    if (file.empty()) Fail("the icon writer refused a picture the icon reader read");
    const auto model = Readers::ReadIco(file);
    if (!model || model->size() != 1 || model->front().png) Fail("the written icon is not one the strict reader takes");
    if (!SamePixels(model->front().bytes, picture.bgra)) Fail("the strict reader sees other pixels than were read");
    IcoCur::Choice choice;
    Decoded again;
    if (!IcoCur::Choose(file.data(), file.size(), choice).Ok() || choice.png ||
        !IcoCur::ReadBitmap(file.data() + choice.offset, choice.size, request, again).Ok() ||
        again.image.width != picture.width || !SamePixels(again.image.bgra, picture.bgra))
        Fail("the icon reader reads its own picture back otherwise");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = 1 << 22;

    // As the door reads an icon: its largest image chosen, a bitmap one decoded.
    IcoCur::Choice choice;
    if (IcoCur::Choose(data, size, choice).Ok() && !choice.png) {
        Decoded icon;
        const ReadResult iconResult = IcoCur::ReadBitmap(data + choice.offset, choice.size, request, icon);
        Check(iconResult, icon, request);
        if (iconResult.Ok()) RoundTrip(icon.image, request);
    }

    Decoded jpeg2000;
    Check(Jpeg2000Reader::Read(data, size, request, jpeg2000), jpeg2000, request);

    Decoded gif;
    Check(Gif::Read(data, size, request, gif), gif, request);

    Decoded webp;
    Check(Webp::Read(data, size, request, webp), webp, request);
    return 0;
}
