// The camera raw reader (on the host's LibRaw, the same Debian version the
// product builds) on any bytes, and the WebP writer with its metadata
// chunks on pictures shaped by the input, read back by libwebp. Byte 0
// picks the case: even, the raw reader (byte 1 the box it may reduce into);
// odd, the writer (byte 1 the width, 1 to 64; byte 2 lossless or not and
// which metadata blocks; the rest pixels, then the blocks' bytes).
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/metadata/TiffIfd.h"
#include "converter/readers/Raw.h"
#include "converter/writers/Webp.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

void CheckRawReader(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = 1u << 22;
    const uint32_t side = data[0];
    if (side > 4) request.box = {side, side};
    int asked = 0;
    request.admit = [&asked](PixelSize, uint64_t) {
        ++asked;
        return true;
    };
    (void)Raw::IsRaw(data + 1, size - 1);
    Decoded decoded;
    const ReadResult result = Raw::Read(data + 1, size - 1, request, decoded);
    if (!result.Ok()) {
        if (decoded.image.Valid() || !decoded.metadata.exif.empty()) Fail("raw: a failure left something behind");
        return;
    }
    if (asked == 0) Fail("raw: decoded without asking the budget");
    if (!decoded.image.Valid()) Fail("raw: Ok without a picture");
    if (decoded.orientation != 1) Fail("raw: not turned upright");
    if (decoded.full.width != 0) {
        const PixelSize fit = Geometry::FitInside(decoded.full, request.box, false);
        if (decoded.image.width < fit.width || decoded.image.height < fit.height) Fail("raw: reduced below the fit");
    }
    for (size_t i = 3; i < decoded.image.bgra.size(); i += 4)
        if (decoded.image.bgra[i] != 255) Fail("raw: a pixel not opaque");
    TiffIfd::Structure exif;
    if (!decoded.metadata.exif.empty() &&
        !TiffIfd::Read(decoded.metadata.exif.data(), decoded.metadata.exif.size(), exif))
        Fail("raw: an Exif block that does not read back");
}

std::vector<uint8_t> Chunk(const std::vector<uint8_t>& webp, const char* fourcc) {
    std::vector<uint8_t> bytes;
    const WebPData data = {webp.data(), webp.size()};
    WebPDemuxer* demux = WebPDemux(&data);
    if (!demux) Fail("webp: the container does not demux");
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &chunk)) {
        bytes.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return bytes;
}

void CheckWebpWriter(const uint8_t* data, size_t size) {
    if (size < 3) return;
    const uint32_t width = data[0] % 64 + 1;
    const bool lossless = data[1] & 1;
    const uint8_t blocks = data[1] >> 1;
    data += 2;
    size -= 2;
    const size_t pixels = std::min<size_t>(size / 4, 64 * 64);
    const uint32_t height = static_cast<uint32_t>(pixels / width);
    if (height == 0) return;
    Image image;
    image.width = width;
    image.height = height;
    image.bgra.assign(data, data + size_t(width) * height * 4);
    data += image.bgra.size();
    size -= image.bgra.size();

    const std::vector<uint8_t> webp = Webp::Write(image, 75, lossless);
    if (webp.empty()) Fail("webp: a small picture not written");
    int w = 0, h = 0;
    uint8_t* back = WebPDecodeBGRA(webp.data(), webp.size(), &w, &h);
    if (!back) Fail("webp: not decodable");
    if (uint32_t(w) != width || uint32_t(h) != height) Fail("webp: another size");
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        // Lossless keeps every visible pixel and every alpha exactly.
        if (lossless && (back[i + 3] != image.bgra[i + 3] ||
                         (image.bgra[i + 3] != 0 && std::memcmp(back + i, image.bgra.data() + i, 3) != 0)))
            Fail("webp: lossless changed a pixel");
    }
    WebPFree(back);

    Metadata metadata;
    const size_t third = size / 3;
    if (blocks & 1) metadata.icc.assign(data, data + third);
    if (blocks & 2) metadata.exif.assign(data + third, data + 2 * third);
    if (blocks & 4) metadata.xmp.assign(data + 2 * third, data + size);
    const std::vector<uint8_t> with = Webp::Embed(webp, metadata);
    if (with.empty()) Fail("webp: our own file not understood");
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(with.data(), with.size(), &features) != VP8_STATUS_OK) Fail("webp: metadata broke the file");
    if (uint32_t(features.width) != width || uint32_t(features.height) != height) Fail("webp: the canvas changed");
    back = WebPDecodeBGRA(with.data(), with.size(), &w, &h);
    if (!back) Fail("webp: not decodable with its metadata");
    WebPFree(back);
    if (Chunk(with, "ICCP") != metadata.icc || Chunk(with, "EXIF") != metadata.exif ||
        Chunk(with, "XMP ") != metadata.xmp)
        Fail("webp: a metadata block not kept as it was");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    if (data[0] % 2 == 0) CheckRawReader(data + 1, size - 1);
    else CheckWebpWriter(data + 1, size - 1);
    return 0;
}
