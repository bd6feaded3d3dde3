#include "converter/writers/Jpeg2000.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "converter/base/OpenJpegObjects.h"
#include "converter/base/Pixels.h"

namespace Jpeg2000 {
namespace {

// The codec's output stream over a growing byte vector. It seeks back to
// fill in box lengths, so writing may land before the end.
struct Sink {
    std::vector<uint8_t>* bytes;
    size_t at;
};

OPJ_SIZE_T SinkWrite(void* buffer, OPJ_SIZE_T count, void* user) {
    Sink& sink = *static_cast<Sink*>(user);
    try {
        if (sink.at + count > sink.bytes->size()) sink.bytes->resize(sink.at + count);
    } catch (const std::bad_alloc&) {
        return static_cast<OPJ_SIZE_T>(-1);  // the codec's sign of a failed write
    }
    std::memcpy(sink.bytes->data() + sink.at, buffer, count);
    sink.at += count;
    return count;
}

OPJ_OFF_T SinkSkip(OPJ_OFF_T count, void* user) {
    Sink& sink = *static_cast<Sink*>(user);
    if (count < 0 && static_cast<size_t>(-count) > sink.at) return -1;
    sink.at = static_cast<size_t>(static_cast<OPJ_OFF_T>(sink.at) + count);
    return count;
}

OPJ_BOOL SinkSeek(OPJ_OFF_T position, void* user) {
    if (position < 0) return OPJ_FALSE;
    static_cast<Sink*>(user)->at = static_cast<size_t>(position);
    return OPJ_TRUE;
}

}  // namespace

std::vector<uint8_t> Write(const Image& image, Container container) {
    std::vector<uint8_t> bytes;
    if (!image.Valid()) return bytes;
    const uint32_t components = Pixels::HasTransparency(image) ? 4 : 3;

    opj_image_cmptparm_t parameters[4];
    std::memset(parameters, 0, sizeof parameters);
    for (uint32_t c = 0; c < components; ++c) {
        parameters[c].dx = 1;
        parameters[c].dy = 1;
        parameters[c].w = image.width;
        parameters[c].h = image.height;
        parameters[c].prec = 8;
        parameters[c].sgnd = 0;
    }
    OpenJpegObjects objects;
    // A tile image: the samples are handed over tile by tile, never whole.
    objects.image = opj_image_tile_create(components, parameters, OPJ_CLRSPC_SRGB);
    if (!objects.image) return bytes;
    objects.image->x0 = 0;
    objects.image->y0 = 0;
    objects.image->x1 = image.width;
    objects.image->y1 = image.height;
    if (components == 4) objects.image->comps[3].alpha = 1;

    opj_cparameters_t coding;
    opj_set_default_encoder_parameters(&coding);
    coding.irreversible = 0;    // 5/3 wavelet: lossless
    coding.tcp_numlayers = 1;
    coding.tcp_rates[0] = 0;    // no rate limit: every bit kept
    coding.cp_disto_alloc = 1;
    coding.tcp_mct = 1;         // reversible colour transform over R, G, B
    coding.tile_size_on = OPJ_TRUE;
    coding.cp_tx0 = 0;
    coding.cp_ty0 = 0;
    coding.cp_tdx = static_cast<int>(TileSide);
    coding.cp_tdy = static_cast<int>(TileSide);

    objects.codec = opj_create_compress(container == Container::Jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!objects.codec || !opj_setup_encoder(objects.codec, &coding, objects.image)) return bytes;

    Sink sink{&bytes, 0};
    objects.stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    if (!objects.stream) return bytes;
    opj_stream_set_user_data(objects.stream, &sink, nullptr);
    opj_stream_set_write_function(objects.stream, SinkWrite);
    opj_stream_set_skip_function(objects.stream, SinkSkip);
    opj_stream_set_seek_function(objects.stream, SinkSeek);
    if (!opj_start_compress(objects.codec, objects.image, objects.stream)) return {};

    const uint32_t tilesAcross = (image.width + TileSide - 1) / TileSide;
    const uint32_t tilesDown = (image.height + TileSide - 1) / TileSide;
    std::vector<uint8_t> planes;
    try {
        planes.resize(size_t{std::min(image.width, TileSide)} * std::min(image.height, TileSide) * components);
    } catch (const std::bad_alloc&) {
        return {};
    }
    static const int kChannel[4] = {2, 1, 0, 3};  // R, G, B, A out of BGRA
    for (uint32_t ty = 0; ty < tilesDown; ++ty) {
        for (uint32_t tx = 0; tx < tilesAcross; ++tx) {
            const uint32_t x0 = tx * TileSide, y0 = ty * TileSide;
            const uint32_t w = std::min(TileSide, image.width - x0);
            const uint32_t h = std::min(TileSide, image.height - y0);
            const size_t plane = size_t{w} * h;
            for (uint32_t y = 0; y < h; ++y) {
                const uint8_t* row = image.Row(y0 + y) + size_t{x0} * 4;
                for (uint32_t c = 0; c < components; ++c) {
                    uint8_t* to = planes.data() + c * plane + size_t{y} * w;
                    const uint8_t* from = row + kChannel[c];
                    for (uint32_t x = 0; x < w; ++x) to[x] = from[x * 4];
                }
            }
            if (!opj_write_tile(objects.codec, ty * tilesAcross + tx, planes.data(),
                                static_cast<OPJ_UINT32>(plane * components), objects.stream))
                return {};
        }
    }
    if (!opj_end_compress(objects.codec, objects.stream)) return {};
    return bytes;
}

}  // namespace Jpeg2000
