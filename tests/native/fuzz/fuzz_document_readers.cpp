// The Photoshop, Photo CD, Group 3 fax and Paint Shop Pro readers on any
// bytes: each either reads a valid picture or says why not, within the pixel
// cap, and never reads outside the input (AddressSanitizer watches). A Paint
// Shop Pro picture read is also written again by the format's documented
// layout (tests/native/model/PspModel.h: 24 bits, run-length coded) and must
// read back with the same colours.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "converter/readers/G3Fax.h"
#include "converter/readers/PaintShopPro.h"
#include "converter/readers/PhotoCd.h"
#include "converter/readers/Psd.h"
#include "model/PspModel.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

void PspRoundTrip(const Image& picture) {
    if (uint64_t{picture.width} * picture.height > 1 << 16) return;  // the model's copy stays small
    PspModel::Picture model;
    model.width = picture.width;
    model.height = picture.height;
    const size_t stride = model.Stride();
    for (auto* plane : {&model.red, &model.green, &model.blue}) plane->assign(stride * model.height, 0);
    for (uint32_t y = 0; y < picture.height; ++y)
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint8_t* px = picture.bgra.data() + (size_t{y} * picture.width + x) * 4;
            model.red[y * stride + x] = px[2];
            model.green[y * stride + x] = px[1];
            model.blue[y * stride + x] = px[0];
        }
    const std::vector<uint8_t> file = PspModel::WithComposite(model, PspModel::kRle, false);
    ReadRequest request;
    Decoded again;
    if (!PaintShopPro::Read(file.data(), file.size(), request, again).Ok() || again.image.width != picture.width ||
        again.image.height != picture.height)
        Fail("Paint Shop Pro: its own picture, written again, does not read");
    for (size_t i = 0; i < picture.bgra.size(); i += 4)
        if (std::memcmp(&again.image.bgra[i], &picture.bgra[i], 3) != 0) Fail("Paint Shop Pro: colours differ");
}

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
    if (result.Ok() && reader == &PaintShopPro::Read) PspRoundTrip(out.image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(Psd::Read, data, size);
    Check(PhotoCd::Read, data, size);
    Check(G3Fax::Read, data, size);
    Check(PaintShopPro::Read, data, size);
    return 0;
}
