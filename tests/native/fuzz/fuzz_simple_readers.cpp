// The BMP, TGA, Netpbm, PCX, WBMP, Dr. Halo CUT, Alias PIX and Utah RLE readers on any
// bytes: each reader gets the whole input (CUT also with its second half as
// the palette file), under a pixel cap that keeps a run quick. A reader may
// refuse; what it accepts must be a whole picture within the cap, and what it
// refuses must leave no picture behind.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "converter/readers/AliasPix.h"
#include "converter/readers/Bmp.h"
#include "converter/readers/HaloCut.h"
#include "converter/readers/Netpbm.h"
#include "converter/readers/Pcx.h"
#include "converter/readers/Tga.h"
#include "converter/readers/UtahRle.h"
#include "converter/readers/Wbmp.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

void Check(const ReadResult& result, const Decoded& decoded, const ReadRequest& request, const char* what) {
    if (result.Ok()) {
        if (!decoded.image.Valid()) Fail(what);
        if (uint64_t{decoded.image.width} * decoded.image.height > request.maxPixels) Fail(what);
    } else if (!decoded.image.bgra.empty() && result.status == ReadStatus::TooLarge) {
        Fail(what);  // memory taken beyond the cap
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = uint64_t{1} << 20;
    const struct {
        ByteReader read;
        const char* name;
    } readers[] = {
        {&Bmp::Read, "BMP"},
        {&Tga::Read, "TGA"},
        {&Netpbm::Read, "Netpbm"},
        {&Pcx::Read, "PCX"},
        {&Wbmp::Read, "WBMP"},
        {static_cast<ByteReader>(&HaloCut::Read), "CUT"},
        {&AliasPix::Read, "PIX"},
        {&UtahRle::Read, "Utah RLE"},
    };
    for (const auto& reader : readers) {
        Decoded decoded;
        Check(reader.read(data, size, request, decoded), decoded, request, reader.name);
    }
    // A bitmap whose pixels are an embedded stream: the stream lies inside the input.
    {
        Decoded decoded;
        Bmp::Stream stream;
        const ReadResult result = Bmp::ReadOrLocate(data, size, request, decoded, stream);
        if (result.Ok() && stream.kind != Bmp::Embedded::None &&
            (stream.data < data || stream.size > size || stream.data + stream.size > data + size ||
             !decoded.image.bgra.empty()))
            Fail("BMP stream");
        if (result.Ok() && stream.kind == Bmp::Embedded::None) Check(result, decoded, request, "BMP located");
    }
    Decoded decoded;
    const size_t half = size / 2;
    Check(HaloCut::Read(data, half, data + half, size - half, request, decoded), decoded, request, "CUT and palette");
    return 0;
}
