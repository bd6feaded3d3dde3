#include "converter/readers/Webp.h"

#include <cstring>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

#include "converter/base/CheckedSize.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/readers/ByteSource.h"

namespace Webp {
namespace {

using ByteSource::Fail;

ReadResult FromStatus(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OK: return {};
    case VP8_STATUS_OUT_OF_MEMORY: return Fail(ReadStatus::OutOfMemory);
    case VP8_STATUS_UNSUPPORTED_FEATURE: return Fail(ReadStatus::Unsupported);
    default: return Fail(ReadStatus::Damaged);
    }
}

// The container's parts; each released on every way out.
struct Demuxer {
    WebPDemuxer* demux;
    ~Demuxer() { WebPDemuxDelete(demux); }
};
struct Frame {
    WebPIterator iterator = {};
    ~Frame() { WebPDemuxReleaseIterator(&iterator); }
};
struct Chunk {
    WebPChunkIterator iterator = {};
    ~Chunk() { WebPDemuxReleaseChunkIterator(&iterator); }
};

// Straight (not premultiplied) blue, green, red, alpha, as Image keeps them.
bool DecodeInto(const WebPData& bitstream, Image& image) {
    size_t stride;
    if (!CheckedSize::Mul(image.width, 4, stride) || stride > INT32_MAX) return false;
    return WebPDecodeBGRAInto(bitstream.bytes, bitstream.size, image.bgra.data(), image.bgra.size(),
                              static_cast<int>(stride)) != nullptr;
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (!IsWebp(data, size)) return Fail(ReadStatus::NotThisFormat);
    // The sizes from the headers, before any pixel memory is taken.
    WebPBitstreamFeatures features;
    ReadResult result = FromStatus(WebPGetFeatures(data, size, &features));
    if (!result.Ok()) return result;
    const WebPData whole = {data, size};
    Demuxer demuxer{WebPDemux(&whole)};
    if (!demuxer.demux) return Fail(ReadStatus::Damaged);
    const uint32_t width = WebPDemuxGetI(demuxer.demux, WEBP_FF_CANVAS_WIDTH);
    const uint32_t height = WebPDemuxGetI(demuxer.demux, WEBP_FF_CANVAS_HEIGHT);
    Frame frame;
    if (!WebPDemuxGetFrame(demuxer.demux, 1, &frame.iterator)) return Fail(ReadStatus::Damaged);
    const WebPIterator& first = frame.iterator;
    if (first.width <= 0 || first.height <= 0 || first.x_offset < 0 || first.y_offset < 0 ||
        uint64_t(first.x_offset) + uint64_t(first.width) > width ||
        uint64_t(first.y_offset) + uint64_t(first.height) > height)
        return Fail(ReadStatus::Damaged);
    // Beside the canvas: the frame's own picture when it covers only part
    // of the canvas, and libwebp's working memory: a lossless frame's whole
    // ARGB picture, a lossy one's alpha plane and row caches; five bytes a
    // frame pixel cover either.
    const bool part = uint32_t(first.width) != width || uint32_t(first.height) != height;
    const uint64_t framePixels = uint64_t(first.width) * uint64_t(first.height);
    result = ByteSource::Allocate(out.image, width, height, request, framePixels * (part ? 9 : 5));
    if (!result.Ok()) return result;

    if (!part) {
        if (!DecodeInto(first.fragment, out.image)) return Fail(ReadStatus::Damaged);
    } else {
        // An animation's first frame covers part of the canvas; the rest is
        // transparent, as before the animation's first step.
        Image part;
        result = ByteSource::Allocate(part, uint32_t(first.width), uint32_t(first.height), request);
        if (!result.Ok()) return result;
        if (!DecodeInto(first.fragment, part)) return Fail(ReadStatus::Damaged);
        std::fill(out.image.bgra.begin(), out.image.bgra.end(), uint8_t{0});
        for (uint32_t y = 0; y < part.height; ++y)
            std::memcpy(out.image.Row(uint32_t(first.y_offset) + y) + size_t(first.x_offset) * 4, part.Row(y),
                        part.Stride());
    }

    const auto take = [&demuxer](const char* fourcc, std::vector<uint8_t>& into) {
        Chunk chunk;
        if (WebPDemuxGetChunk(demuxer.demux, fourcc, 1, &chunk.iterator) && chunk.iterator.chunk.size > 0)
            into.assign(chunk.iterator.chunk.bytes, chunk.iterator.chunk.bytes + chunk.iterator.chunk.size);
    };
    take("ICCP", out.metadata.icc);
    take("XMP ", out.metadata.xmp);
    take("EXIF", out.metadata.exif);
    // Some writers keep JPEG's "Exif\0\0" before the TIFF header.
    if (out.metadata.exif.size() >= 6 && std::memcmp(out.metadata.exif.data(), "Exif\0\0", 6) == 0)
        out.metadata.exif.erase(out.metadata.exif.begin(), out.metadata.exif.begin() + 6);
    if (!out.metadata.exif.empty())
        out.orientation = ExifOrientation::FromTiff(out.metadata.exif.data(), out.metadata.exif.size());
    return {};
}

}  // namespace

bool IsWebp(const uint8_t* head, size_t size) {
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] {
        const ReadResult result = Decode(data, size, request, out);
        if (!result.Ok()) out = Decoded{};
        return result;
    });
}

}  // namespace Webp
