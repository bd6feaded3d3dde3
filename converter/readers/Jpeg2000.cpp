#include "converter/readers/Jpeg2000.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/base/OpenJpegObjects.h"

namespace Jpeg2000Reader {

namespace {

// The codec holds every component as 32-bit samples, and as much again in
// its tile buffers, before we see a pixel: that is what must fit.
constexpr uint64_t CodecBudget = sizeof(void*) == 8 ? (uint64_t{2} << 30) : (uint64_t{384} << 20);

const uint8_t kJp2Signature[12] = {0, 0, 0, 12, 'j', 'P', ' ', ' ', '\r', '\n', 0x87, '\n'};
const uint8_t kCodeStreamStart[4] = {0xFF, 0x4F, 0xFF, 0x51};  // SOC, then SIZ

// The codec's input stream over the file's bytes.
struct Source {
    const uint8_t* data;
    size_t size;
    size_t at;
};

OPJ_SIZE_T SourceRead(void* buffer, OPJ_SIZE_T count, void* user) {
    Source& source = *static_cast<Source*>(user);
    if (source.at >= source.size) return static_cast<OPJ_SIZE_T>(-1);  // the codec's sign of the end
    const size_t n = std::min<size_t>(count, source.size - source.at);
    std::memcpy(buffer, source.data + source.at, n);
    source.at += n;
    return n;
}

OPJ_OFF_T SourceSkip(OPJ_OFF_T count, void* user) {
    Source& source = *static_cast<Source*>(user);
    if (count < 0) {
        if (static_cast<uint64_t>(-count) > source.at) return -1;
    } else if (static_cast<uint64_t>(count) > source.size - source.at) {
        count = static_cast<OPJ_OFF_T>(source.size - source.at);
    }
    source.at = static_cast<size_t>(static_cast<OPJ_OFF_T>(source.at) + count);
    return count;
}

OPJ_BOOL SourceSeek(OPJ_OFF_T position, void* user) {
    Source& source = *static_cast<Source*>(user);
    if (position < 0 || static_cast<uint64_t>(position) > source.size) return OPJ_FALSE;
    source.at = static_cast<size_t>(position);
    return OPJ_TRUE;
}

void Quiet(const char*, void*) {}

// One component's samples as 8 bits, read at the output's pixel grid
// (sub-sampled components are spread over it).
class Channel {
public:
    Channel(const opj_image_comp_t& component, uint32_t width, uint32_t height)
        : c_(component), width_(width), height_(height) {
        const uint32_t precision = std::min<uint32_t>(c_.prec, 31);
        max_ = (uint64_t{1} << precision) - 1;
        offset_ = c_.sgnd ? int64_t{1} << (precision - 1) : 0;
    }

    uint8_t At(uint32_t x, uint32_t y) const {
        const uint64_t sx = uint64_t{x} * c_.w / width_, sy = uint64_t{y} * c_.h / height_;
        int64_t v = int64_t{c_.data[sy * c_.w + sx]} + offset_;
        v = std::max<int64_t>(0, std::min<int64_t>(v, static_cast<int64_t>(max_)));
        return static_cast<uint8_t>((static_cast<uint64_t>(v) * 255 + max_ / 2) / max_);
    }

private:
    const opj_image_comp_t& c_;
    uint32_t width_, height_;
    uint64_t max_;
    int64_t offset_;
};

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); }

ReadResult Convert(const opj_image_t& image, Image& out) {
    // Colour channels in order, and the one the channel definition names
    // opacity; a bare code stream has no such box: a second or fourth
    // component beside grey or RGB is taken as alpha.
    std::vector<uint32_t> colour;
    int alpha = -1;
    for (uint32_t c = 0; c < image.numcomps; ++c) {
        if (!image.comps[c].data || image.comps[c].w == 0 || image.comps[c].h == 0 || image.comps[c].prec == 0)
            return {ReadStatus::Damaged};
        if (image.comps[c].alpha) {
            if (alpha < 0) alpha = static_cast<int>(c);
        } else {
            colour.push_back(c);
        }
    }
    const bool cmyk = image.color_space == OPJ_CLRSPC_CMYK && colour.size() >= 4;
    if (alpha < 0 && !cmyk && (colour.size() == 2 || colour.size() == 4)) {
        alpha = static_cast<int>(colour.back());
        colour.pop_back();
    }
    if (colour.empty()) return {ReadStatus::Unsupported};
    const bool grey = colour.size() < 3;
    const bool ycc = !grey && (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC);

    uint32_t width = 0, height = 0;
    for (uint32_t c = 0; c < image.numcomps; ++c) {
        width = std::max(width, image.comps[c].w);
        height = std::max(height, image.comps[c].h);
    }
    std::vector<Channel> channels;
    for (size_t i = 0; i < (grey ? 1 : cmyk ? 4 : 3); ++i) channels.emplace_back(image.comps[colour[i]], width, height);
    if (alpha >= 0) channels.emplace_back(image.comps[alpha], width, height);
    const size_t alphaAt = alpha >= 0 ? channels.size() - 1 : 0;

    out.width = width;
    out.height = height;
    out.bgra.assign(static_cast<size_t>(width) * height * 4, 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* pixel = out.Row(y);
        for (uint32_t x = 0; x < width; ++x, pixel += 4) {
            uint8_t r, g, b;
            if (grey) {
                r = g = b = channels[0].At(x, y);
            } else if (cmyk) {
                const int k = 255 - channels[3].At(x, y);
                r = static_cast<uint8_t>((255 - channels[0].At(x, y)) * k / 255);
                g = static_cast<uint8_t>((255 - channels[1].At(x, y)) * k / 255);
                b = static_cast<uint8_t>((255 - channels[2].At(x, y)) * k / 255);
            } else if (ycc) {
                const double l = channels[0].At(x, y), cb = channels[1].At(x, y) - 128.0,
                             cr = channels[2].At(x, y) - 128.0;
                r = Clamp(l + 1.402 * cr);
                g = Clamp(l - 0.344136 * cb - 0.714136 * cr);
                b = Clamp(l + 1.772 * cb);
            } else {
                r = channels[0].At(x, y);
                g = channels[1].At(x, y);
                b = channels[2].At(x, y);
            }
            pixel[0] = b;
            pixel[1] = g;
            pixel[2] = r;
            pixel[3] = alpha >= 0 ? channels[alphaAt].At(x, y) : 255;
        }
    }
    return {};
}

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    OPJ_CODEC_FORMAT format;
    if (size >= sizeof kJp2Signature && std::memcmp(data, kJp2Signature, sizeof kJp2Signature) == 0)
        format = OPJ_CODEC_JP2;
    else if (size >= sizeof kCodeStreamStart && std::memcmp(data, kCodeStreamStart, sizeof kCodeStreamStart) == 0)
        format = OPJ_CODEC_J2K;
    else
        return {ReadStatus::NotThisFormat};

    Source source{data, size, 0};
    OpenJpegObjects objects;
    objects.stream = opj_stream_create(64 * 1024, OPJ_TRUE);
    objects.codec = opj_create_decompress(format);
    if (!objects.stream || !objects.codec) return {ReadStatus::OutOfMemory};
    opj_stream_set_user_data(objects.stream, &source, nullptr);
    opj_stream_set_user_data_length(objects.stream, size);
    opj_stream_set_read_function(objects.stream, SourceRead);
    opj_stream_set_skip_function(objects.stream, SourceSkip);
    opj_stream_set_seek_function(objects.stream, SourceSeek);
    opj_set_info_handler(objects.codec, Quiet, nullptr);
    opj_set_warning_handler(objects.codec, Quiet, nullptr);
    opj_set_error_handler(objects.codec, Quiet, nullptr);

    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(objects.codec, &parameters)) return {ReadStatus::Damaged};
    if (!opj_read_header(objects.stream, objects.codec, &objects.image) || !objects.image) return {ReadStatus::Damaged};
    const opj_image_t& header = *objects.image;
    if (header.x1 <= header.x0 || header.y1 <= header.y0 || header.numcomps == 0) return {ReadStatus::Damaged};

    // The lowest resolution level to skip that leaves the picture and the
    // codec's buffers within bounds; a level the code stream does not have
    // cannot be skipped to.
    uint32_t levels = 1;
    if (opj_codestream_info_v2_t* info = opj_get_cstr_info(objects.codec)) {
        if (info->m_default_tile_info.tccp_info) levels = info->m_default_tile_info.tccp_info[0].numresolutions;
        opj_destroy_cstr_info(&info);
    }
    const uint64_t fullWidth = header.x1 - header.x0, fullHeight = header.y1 - header.y0;
    uint32_t reduce = 0;
    const auto area = [&](uint32_t r) {
        return ((fullWidth + (uint64_t{1} << r) - 1) >> r) * ((fullHeight + (uint64_t{1} << r) - 1) >> r);
    };
    while (reduce + 1 < levels && reduce < 31 &&
           (area(reduce) > request.maxPixels || area(reduce) * header.numcomps * 8 > CodecBudget))
        ++reduce;
    if (area(reduce) > request.maxPixels || area(reduce) * header.numcomps * 8 > CodecBudget)
        return {ReadStatus::TooLarge};
    // A picture that will be fitted into a smaller box needs no more levels
    // than keep it at least as large as the fit: each level skipped halves
    // both sides and a quarter of the work.
    if (request.box.width != 0 && request.box.height != 0 && fullWidth <= UINT32_MAX && fullHeight <= UINT32_MAX) {
        const PixelSize fit = Geometry::FitInside(
            {static_cast<uint32_t>(fullWidth), static_cast<uint32_t>(fullHeight)}, request.box, request.enlarge);
        const auto side = [](uint64_t full, uint32_t r) { return (full + (uint64_t{1} << r) - 1) >> r; };
        while (reduce + 1 < levels && reduce < 31 && side(fullWidth, reduce + 1) >= fit.width &&
               side(fullHeight, reduce + 1) >= fit.height)
            ++reduce;
    }
    if (reduce > 0 && !opj_set_decoded_resolution_factor(objects.codec, reduce)) return {ReadStatus::TooLarge};

    if (!opj_decode(objects.codec, objects.stream, objects.image) || !opj_end_decompress(objects.codec, objects.stream))
        return {ReadStatus::Damaged};
    try {
        const ReadResult converted = Convert(*objects.image, out.image);
        if (!converted.Ok()) {
            out.image = Image();
            return converted;
        }
        const opj_image_t& image = *objects.image;
        // An embedded ICC profile (its signature "acsp" at byte 36), carried on.
        if (image.icc_profile_buf && image.icc_profile_len > 40 &&
            std::memcmp(image.icc_profile_buf + 36, "acsp", 4) == 0)
            out.metadata.icc.assign(image.icc_profile_buf, image.icc_profile_buf + image.icc_profile_len);
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return {ReadStatus::OutOfMemory};
    }
    out.orientation = 1;
    if (reduce > 0) out.full = {static_cast<uint32_t>(fullWidth), static_cast<uint32_t>(fullHeight)};
    return {};
}

}  // namespace Jpeg2000Reader
