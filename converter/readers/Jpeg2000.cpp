#include "converter/readers/Jpeg2000.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/base/OpenJpegObjects.h"
#include "converter/base/CheckedSize.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/readers/ByteSource.h"

namespace Jpeg2000Reader {

namespace {

// What the codec may hold at a time: a larger picture is decoded in bands.
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

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }
uint64_t CeilDivPow2(uint64_t a, uint32_t r) { return (a + (uint64_t{1} << r) - 1) >> r; }

// Where a picture is decoded: its resolution level and its size there, and
// the band of rows of the reference grid decoded at a time.
struct Plan {
    uint32_t reduce = 0;
    uint64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the picture on the reference grid
    uint32_t width = 0, height = 0;           // at the level decoded
    uint64_t bandRows = 0;                    // reference-grid rows a band, 0: all at once
    uint64_t codecBytes = 0;                  // what the codec holds for one band
};

// The span one component covers at the plan's level, from `from` to `to`
// on the reference grid, with its sub-sampling `step`: OpenJPEG's own rule.
uint64_t Span(uint64_t from, uint64_t to, uint32_t step, uint32_t reduce) {
    return CeilDivPow2(CeilDiv(to, step), reduce) - CeilDivPow2(CeilDiv(from, step), reduce);
}

// One component's samples as 8 bits, read at the output's pixel grid
// (sub-sampled components are spread over it). A band holds the
// component's rows from `firstRow` (of the whole picture's component) on.
class Channel {
public:
    Channel(const opj_image_comp_t& component, uint64_t fullWidth, uint64_t fullHeight, uint64_t firstRow,
            uint32_t width, uint32_t height)
        : c_(component), fullWidth_(fullWidth), fullHeight_(fullHeight), firstRow_(firstRow), width_(width),
          height_(height) {
        const uint32_t precision = std::min<uint32_t>(c_.prec, 31);
        max_ = (uint64_t{1} << precision) - 1;
        offset_ = c_.sgnd ? int64_t{1} << (precision - 1) : 0;
    }

    // `y` counts the whole picture's rows.
    uint8_t At(uint32_t x, uint32_t y) const {
        const uint64_t sx = std::min<uint64_t>(uint64_t{x} * fullWidth_ / width_, c_.w - 1);
        const uint64_t row = uint64_t{y} * fullHeight_ / height_;
        const uint64_t sy = row < firstRow_ ? 0 : std::min<uint64_t>(row - firstRow_, c_.h - 1);
        int64_t v = int64_t{c_.data[sy * c_.w + sx]} + offset_;
        v = std::max<int64_t>(0, std::min<int64_t>(v, static_cast<int64_t>(max_)));
        return static_cast<uint8_t>((static_cast<uint64_t>(v) * 255 + max_ / 2) / max_);
    }

private:
    const opj_image_comp_t& c_;
    uint64_t fullWidth_, fullHeight_, firstRow_;
    uint32_t width_, height_;
    uint64_t max_;
    int64_t offset_;
};

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); }

// One band of the picture, the reference grid's rows [bandTop, bandBottom),
// into its rows of `out` (sized for the whole picture).
ReadResult Convert(const opj_image_t& image, const Plan& plan, uint64_t bandTop, uint64_t bandBottom,
                   const ColourProfile::CmykToSrgb* inks, Image& out) {
    // Colour channels in order, and the one the channel definition names
    // opacity; a bare code stream has no such box: a second or fourth
    // component beside grey or RGB is taken as alpha.
    std::vector<uint32_t> colour;
    int alpha = -1;
    for (uint32_t c = 0; c < image.numcomps; ++c) {
        const opj_image_comp_t& component = image.comps[c];
        if (!component.data || component.w == 0 || component.h == 0 || component.prec == 0 || component.dx == 0 ||
            component.dy == 0)
            return {ReadStatus::Damaged};
        if (component.alpha) {
            if (alpha < 0) alpha = static_cast<int>(c);
        } else {
            colour.push_back(c);
        }
    }
    const bool cmyk = inks && image.color_space == OPJ_CLRSPC_CMYK && colour.size() >= 4;
    if (alpha < 0 && !cmyk && (colour.size() == 2 || colour.size() == 4)) {
        alpha = static_cast<int>(colour.back());
        colour.pop_back();
    }
    if (colour.empty()) return {ReadStatus::Unsupported};
    const bool grey = colour.size() < 3;
    const bool ycc = !grey && (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC);

    const auto channel = [&](uint32_t c) {
        const opj_image_comp_t& component = image.comps[c];
        return Channel(component, Span(plan.x0, plan.x1, component.dx, plan.reduce),
                       Span(plan.y0, plan.y1, component.dy, plan.reduce),
                       Span(plan.y0, bandTop, component.dy, plan.reduce), plan.width, plan.height);
    };
    std::vector<Channel> channels;
    for (size_t i = 0; i < (grey ? 1 : cmyk ? 4 : 3); ++i) channels.push_back(channel(colour[i]));
    if (alpha >= 0) channels.push_back(channel(static_cast<uint32_t>(alpha)));
    const size_t alphaAt = alpha >= 0 ? channels.size() - 1 : 0;

    const uint64_t first = CeilDivPow2(bandTop, plan.reduce) - CeilDivPow2(plan.y0, plan.reduce);
    const uint64_t last = std::min<uint64_t>(CeilDivPow2(bandBottom, plan.reduce) - CeilDivPow2(plan.y0, plan.reduce),
                                             plan.height);
    for (uint64_t y = first; y < last; ++y) {
        uint8_t* pixel = out.Row(static_cast<uint32_t>(y));
        for (uint32_t x = 0; x < plan.width; ++x, pixel += 4) {
            const uint32_t row = static_cast<uint32_t>(y);
            uint8_t r, g, b;
            if (grey) {
                r = g = b = channels[0].At(x, row);
            } else if (cmyk) {
                const uint8_t ink[4] = {channels[0].At(x, row), channels[1].At(x, row), channels[2].At(x, row),
                                        channels[3].At(x, row)};
                inks->Convert(ink, pixel, 1);
                pixel[3] = alpha >= 0 ? channels[alphaAt].At(x, row) : 255;
                continue;
            } else if (ycc) {
                const double l = channels[0].At(x, row), cb = channels[1].At(x, row) - 128.0,
                             cr = channels[2].At(x, row) - 128.0;
                r = Clamp(l + 1.402 * cr);
                g = Clamp(l - 0.344136 * cb - 0.714136 * cr);
                b = Clamp(l + 1.772 * cb);
            } else {
                r = channels[0].At(x, row);
                g = channels[1].At(x, row);
                b = channels[2].At(x, row);
            }
            pixel[0] = b;
            pixel[1] = g;
            pixel[2] = r;
            pixel[3] = alpha >= 0 ? channels[alphaAt].At(x, row) : 255;
        }
    }
    return {};
}

// A decoder over the file, its header read.
bool Open(const uint8_t* data, size_t size, OPJ_CODEC_FORMAT format, Source& source, OpenJpegObjects& objects) {
    source = Source{data, size, 0};
    objects.stream = opj_stream_create(64 * 1024, OPJ_TRUE);
    objects.codec = opj_create_decompress(format);
    if (!objects.stream || !objects.codec) return false;
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
    return opj_setup_decoder(objects.codec, &parameters) &&
           opj_read_header(objects.stream, objects.codec, &objects.image) && objects.image;
}

const wchar_t* const kTooLargeForMemory =
    L"Das JPEG-2000-Bild ist zu gro\u00df, um es in voller Aufl\u00f6sung im Speicher zu entschl\u00fcsseln.";

}  // namespace

ReadResult ReadWithin(const uint8_t* data, size_t size, const ReadRequest& request, uint64_t codecBudget,
                      Decoded& out) {
    OPJ_CODEC_FORMAT format;
    if (size >= sizeof kJp2Signature && std::memcmp(data, kJp2Signature, sizeof kJp2Signature) == 0)
        format = OPJ_CODEC_JP2;
    else if (size >= sizeof kCodeStreamStart && std::memcmp(data, kCodeStreamStart, sizeof kCodeStreamStart) == 0)
        format = OPJ_CODEC_J2K;
    else
        return {ReadStatus::NotThisFormat};

    Source source{data, size, 0};
    auto objects = std::make_unique<OpenJpegObjects>();
    if (!Open(data, size, format, source, *objects)) {
        if (!objects->stream || !objects->codec) return {ReadStatus::OutOfMemory};
        return {ReadStatus::Damaged};
    }
    const opj_image_t& header = *objects->image;
    if (header.x1 <= header.x0 || header.y1 <= header.y0 || header.numcomps == 0) return {ReadStatus::Damaged};

    // The resolution levels, and the tiles: a picture of one tile decodes
    // any band of it alone; one of many decodes whole tiles.
    uint32_t levels = 1;
    uint64_t tileWidth = header.x1, tileHeight = header.y1, tileTop = 0;
    bool oneTile = true;
    uint64_t tiles = 1;
    if (opj_codestream_info_v2_t* info = opj_get_cstr_info(objects->codec)) {
        if (info->m_default_tile_info.tccp_info) levels = info->m_default_tile_info.tccp_info[0].numresolutions;
        tiles = uint64_t{info->tw} * info->th;
        oneTile = tiles <= 1;
        if (info->tdx > 0 && info->tdy > 0) {
            tileWidth = info->tdx;
            tileHeight = info->tdy;
            tileTop = info->ty0;
        }
        opj_destroy_cstr_info(&info);
    }

    Plan plan;
    plan.x0 = header.x0;
    plan.y0 = header.y0;
    plan.x1 = header.x1;
    plan.y1 = header.y1;
    const uint64_t fullWidth = plan.x1 - plan.x0, fullHeight = plan.y1 - plan.y0;
    // Levels are skipped only as far as the fit into the box allows, each
    // halving both sides: never for want of memory, which is met by
    // decoding in bands instead.
    if (request.box.width != 0 && request.box.height != 0 && fullWidth <= UINT32_MAX && fullHeight <= UINT32_MAX) {
        const PixelSize fit = Geometry::FitInside(
            {static_cast<uint32_t>(fullWidth), static_cast<uint32_t>(fullHeight)}, request.box, request.enlarge);
        const auto side = [](uint64_t from, uint64_t to, uint32_t r) { return CeilDivPow2(to, r) - CeilDivPow2(from, r); };
        while (plan.reduce + 1 < levels && plan.reduce < 31 &&
               side(plan.x0, plan.x1, plan.reduce + 1) >= fit.width &&
               side(plan.y0, plan.y1, plan.reduce + 1) >= fit.height)
            ++plan.reduce;
    }
    uint64_t width = 0, height = 0;
    for (uint32_t c = 0; c < header.numcomps; ++c) {
        const opj_image_comp_t& component = header.comps[c];
        if (component.dx == 0 || component.dy == 0) return {ReadStatus::Damaged};
        width = std::max(width, Span(plan.x0, plan.x1, component.dx, plan.reduce));
        height = std::max(height, Span(plan.y0, plan.y1, component.dy, plan.reduce));
    }
    ReadResult result = ByteSource::CheckSize(width, height, request);
    if (!result.Ok()) return result;
    plan.width = static_cast<uint32_t>(width);
    plan.height = static_cast<uint32_t>(height);

    // The codec holds every component as 32-bit samples, and as much again
    // in its working buffers (a palette may add three components); for a
    // picture of many tiles, a whole tile beside the band as well.
    const uint64_t components = uint64_t{header.numcomps} + 3;
    size_t rowBytes = 0, tileBytes = 0;
    if (!CheckedSize::Product({width, components, 8}, rowBytes)) return {ReadStatus::TooLarge, kTooLargeForMemory};
    if (!oneTile && !CheckedSize::Product({CeilDivPow2(tileWidth, plan.reduce), CeilDivPow2(tileHeight, plan.reduce),
                                           components, 8},
                                          tileBytes))
        return {ReadStatus::TooLarge, kTooLargeForMemory};
    uint64_t bandRows = height;  // at the level decoded
    if (tileBytes >= codecBudget || rowBytes > (codecBudget - tileBytes) / 16)
        return {ReadStatus::TooLarge, kTooLargeForMemory};
    if (uint64_t{rowBytes} * height + tileBytes > codecBudget) {
        // Bands of whole tiles when there are several, else of whole code
        // blocks (64 rows at the level decoded).
        const uint64_t unitRows = oneTile ? 64 : CeilDivPow2(tileHeight, plan.reduce);
        const uint64_t unitReference = oneTile ? uint64_t{64} << plan.reduce : tileHeight;
        const uint64_t units = (codecBudget - tileBytes) / rowBytes / unitRows;
        if (units == 0) return {ReadStatus::TooLarge, kTooLargeForMemory};
        bandRows = units * unitRows;
        plan.bandRows = units * unitReference;
    }
    plan.codecBytes = uint64_t{rowBytes} * (bandRows + 1) + tileBytes;
    // Beside the band: the codec's copy of the compressed bytes, and what
    // reading the header took, a coding record of every tile and component
    // (OpenJPEG 2.5's own structures: 5.6 KB a tile and 1 KB a component of it).
    const uint64_t headerBytes = tiles * (uint64_t{6} * 1024 + uint64_t{header.numcomps} * 1152);
    result = ByteSource::Allocate(out.image, width, height, request, plan.codecBytes + size + headerBytes);
    if (!result.Ok()) return result;
    if (plan.reduce > 0) out.full = {static_cast<uint32_t>(fullWidth), static_cast<uint32_t>(fullHeight)};

    // Band by band down the reference grid; band edges on a tile's edge
    // when there are several tiles.
    const uint64_t origin = oneTile ? 0 : tileTop;
    std::unique_ptr<ColourProfile::CmykToSrgb> inks;
    for (uint64_t top = plan.y0; top < plan.y1;) {
        uint64_t bottom = plan.y1;
        if (plan.bandRows != 0) {
            const uint64_t next = origin + ((top - origin) / plan.bandRows + 1) * plan.bandRows;
            bottom = std::min(next, plan.y1);
        }
        // A fresh decoder for every band: OpenJPEG decodes an area once a
        // codec (and a JP2 palette changes the picture it decodes into).
        if (top != plan.y0) {
            objects = std::make_unique<OpenJpegObjects>();
            if (!Open(data, size, format, source, *objects)) return {ReadStatus::Damaged};
        }
        if (plan.reduce > 0 && !opj_set_decoded_resolution_factor(objects->codec, plan.reduce))
            return {ReadStatus::Damaged};
        const bool whole = top == plan.y0 && bottom == plan.y1;
        if (!whole && !opj_set_decode_area(objects->codec, objects->image, static_cast<OPJ_INT32>(plan.x0),
                                           static_cast<OPJ_INT32>(top), static_cast<OPJ_INT32>(plan.x1),
                                           static_cast<OPJ_INT32>(bottom)))
            return {ReadStatus::Damaged};
        if (!opj_decode(objects->codec, objects->stream, objects->image) ||
            (whole && !opj_end_decompress(objects->codec, objects->stream)))
            return {ReadStatus::Damaged};
        const opj_image_t& image = *objects->image;
        // An embedded ICC profile (its signature "acsp" at byte 36), carried on.
        if (out.metadata.icc.empty() && image.icc_profile_buf && image.icc_profile_len > 40 &&
            std::memcmp(image.icc_profile_buf + 36, "acsp", 4) == 0)
            out.metadata.icc.assign(image.icc_profile_buf, image.icc_profile_buf + image.icc_profile_len);
        // CMYK inks through that profile, as a CMYK JPEG's and TIFF's.
        if (image.color_space == OPJ_CLRSPC_CMYK && !inks) {
            inks = std::make_unique<ColourProfile::CmykToSrgb>(out.metadata.icc, false);
            if (!inks->Ok()) return {ReadStatus::OutOfMemory};
        }
        result = Convert(image, plan, top, bottom, inks.get(), out.image);
        if (!result.Ok()) return result;
        top = bottom;
    }
    if (inks) out.metadata.icc.clear();  // it described the inks, not the sRGB pixels
    out.orientation = 1;
    return {};
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    const ReadResult result = ByteSource::Guarded(out, [&] { return ReadWithin(data, size, request, CodecBudget, out); });
    if (!result.Ok()) out = Decoded();
    return result;
}

}  // namespace Jpeg2000Reader
