#include "converter/readers/Png.h"

#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "converter/base/CheckedSize.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/metadata/PngChunks.h"
#include "converter/readers/ByteSource.h"

namespace Png {

namespace {

using ByteSource::Fail;

// A chunk before the pixels (a profile, text, Exif) larger than this is
// refused, and all of them together may hold at most twice that: a small
// file must not make the decoder hold hundreds of megabytes of text.
constexpr size_t MaxChunkBytes = size_t{16} << 20;

// Owns libspng's context.
class Context {
public:
    Context() : ctx_(spng_ctx_new(0)) {}
    ~Context() {
        if (ctx_) spng_ctx_free(ctx_);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    spng_ctx* get() const { return ctx_; }

private:
    spng_ctx* ctx_;
};

ReadResult FromError(int error) {
    switch (error) {
    case SPNG_EMEM:
        return Fail(ReadStatus::OutOfMemory);
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT:
    case SPNG_ECHUNK_LIMITS:
        return Fail(ReadStatus::TooLarge);
    default:
        return Fail(ReadStatus::Damaged);
    }
}

// Whether the file's gamma (and primaries, when it names them) are sRGB's
// as near as a file's rounding goes: most writers put gAMA 1/2.2 beside
// sRGB data, and those pictures need no conversion.
bool NearSrgb(double gamma, const spng_chrm* chrm) {
    if (std::fabs(gamma - 1 / 2.2) > 0.01) return false;
    if (!chrm) return true;
    const double srgb[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    const double given[8] = {chrm->white_point_x, chrm->white_point_y, chrm->red_x, chrm->red_y,
                             chrm->green_x,       chrm->green_y,       chrm->blue_x, chrm->blue_y};
    for (int i = 0; i < 8; ++i)
        if (std::fabs(given[i] - srgb[i]) > 0.01) return false;
    return true;
}

// The picture's colour profile: iCCP as it is; none for sRGB; one made from
// gAMA and cHRM otherwise.
void TakeColour(spng_ctx* ctx, Metadata& metadata) {
    spng_iccp iccp;
    if (spng_get_iccp(ctx, &iccp) == 0 && iccp.profile && iccp.profile_len > 0) {
        metadata.icc.assign(iccp.profile, iccp.profile + iccp.profile_len);
        return;
    }
    uint8_t intent = 0;
    if (spng_get_srgb(ctx, &intent) == 0) return;
    double gamma = 0;
    const bool hasGamma = spng_get_gama(ctx, &gamma) == 0 && gamma > 0;
    spng_chrm chrm;
    const bool hasChrm = spng_get_chrm(ctx, &chrm) == 0;
    if (!hasGamma && !hasChrm) return;
    // cHRM alone leaves the curve sRGB's, near enough 2.2.
    if (!hasGamma) gamma = 1 / 2.2;
    if (NearSrgb(gamma, hasChrm ? &chrm : nullptr)) return;
    ColourProfile::Chromaticities primaries;
    if (hasChrm) {
        primaries = {chrm.white_point_x, chrm.white_point_y, chrm.red_x,  chrm.red_y,
                     chrm.green_x,       chrm.green_y,       chrm.blue_x, chrm.blue_y};
    }
    metadata.icc = ColourProfile::FromGamma(1 / gamma, primaries);
}

void Limit(spng_ctx* ctx, uint64_t maxPixels) {
    // A side over the pixel cap can never pass it, whatever the other side.
    const uint64_t side = maxPixels < 0x7FFFFFFF ? maxPixels : 0x7FFFFFFF;
    spng_set_image_limits(ctx, static_cast<uint32_t>(side), static_cast<uint32_t>(side));
    spng_set_chunk_limits(ctx, MaxChunkBytes, 2 * MaxChunkBytes);
    // A damaged ancillary chunk is left out, as libpng does; a damaged
    // critical chunk fails the file.
    spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_DISCARD);
}

// Beside the rows libspng holds two of its own (up to 8 bytes a pixel and
// the filter byte), zlib's state and window, and copies of the ancillary
// chunks: at most the file, at most its chunk cache.
uint64_t HeldBytes(uint32_t width, uint64_t fileSize) {
    return 2 * (uint64_t{width} * 8 + 1) + (uint64_t{64} << 10) +
           std::min<uint64_t>(fileSize, 2 * uint64_t{MaxChunkBytes});
}

void ToBgra(uint8_t* p, size_t bytes) {
    for (size_t i = 0; i + 3 < bytes; i += 4) std::swap(p[i], p[i + 2]);
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    Context context;
    spng_ctx* ctx = context.get();
    if (!ctx) return Fail(ReadStatus::OutOfMemory);
    Limit(ctx, request.maxPixels);
    int error = spng_set_png_buffer(ctx, data, size);
    if (error) return FromError(error);

    spng_ihdr ihdr;
    error = spng_get_ihdr(ctx, &ihdr);
    if (error) return FromError(error);
    if (uint64_t{ihdr.width} * ihdr.height > request.maxPixels) return Fail(ReadStatus::TooLarge);
    size_t bytes = 0;
    if (!CheckedSize::Product({ihdr.width, ihdr.height, 4}, bytes)) return Fail(ReadStatus::TooLarge);
    size_t expected = 0;
    error = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &expected);
    if (error) return FromError(error);
    if (expected != bytes) return Fail(ReadStatus::Damaged);

    const ReadResult allocated =
        ByteSource::Allocate(out.image, ihdr.width, ihdr.height, request, HeldBytes(ihdr.width, size));
    if (!allocated.Ok()) return allocated;
    // The colour chunks come before the pixels; asked after decoding,
    // libspng would first read every chunk after them, and one damaged
    // there would cost the picture its profile.
    TakeColour(ctx, out.metadata);
    error = spng_decode_image(ctx, out.image.bgra.data(), bytes, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    if (error) {
        out.image = Image{};
        return FromError(error);
    }
    // libspng hands RGBA; the converter holds BGRA.
    ToBgra(out.image.bgra.data(), bytes);

    // The chunks after the pixels have been read too by now.
    PngChunks::Read(data, size, out.metadata);
    if (!out.metadata.exif.empty())
        out.orientation = ExifOrientation::FromTiff(out.metadata.exif.data(), out.metadata.exif.size());
    return ReadResult{};
}

}  // namespace

struct RowReader::State {
    Context context;
    ReadAt readAt;
    uint64_t at = 0;
    size_t rowBytes = 0;
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;

ReadResult RowReader::Open(ReadAt readAt, uint64_t size, Decoded& out) {
    state_.reset(new State);
    State& s = *state_;
    s.readAt = std::move(readAt);
    spng_ctx* ctx = s.context.get();
    if (!ctx) return Fail(ReadStatus::OutOfMemory);
    uint8_t signature[8] = {};
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (s.readAt(0, signature, 8) != 8 || std::memcmp(signature, kSignature, 8) != 0)
        return Fail(ReadStatus::NotThisFormat);
    Limit(ctx, UINT64_MAX);
    const auto stream = [](spng_ctx*, void* user, void* into, size_t length) -> int {
        State& state = *static_cast<State*>(user);
        const size_t got = state.readAt(state.at, static_cast<uint8_t*>(into), length);
        state.at += got;
        return got == length ? 0 : SPNG_IO_EOF;
    };
    int error = spng_set_png_stream(ctx, stream, &s);
    spng_ihdr ihdr;
    if (!error) error = spng_get_ihdr(ctx, &ihdr);
    if (error) return FromError(error);
    size_ = {ihdr.width, ihdr.height};
    interlaced_ = ihdr.interlace_method != 0;
    grey_ = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    spng_trns trns;
    transparent_ = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                   ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(ctx, &trns) == 0;
    if (!CheckedSize::Mul(ihdr.width, 4, s.rowBytes)) return Fail(ReadStatus::TooLarge);

    size_t chunkBytes = 0;
    if (!PngChunks::Read(s.readAt, size, MaxChunkBytes, 2 * MaxChunkBytes, out.metadata, chunkBytes))
        return Fail(ReadStatus::Damaged);
    if (!out.metadata.exif.empty())
        out.orientation = ExifOrientation::FromTiff(out.metadata.exif.data(), out.metadata.exif.size());
    TakeColour(ctx, out.metadata);
    decoderBytes_ = HeldBytes(ihdr.width, size) + chunkBytes;
    return ReadResult{};
}

bool RowReader::Begin() {
    if (!state_ || interlaced_) return false;
    return spng_decode_image(state_->context.get(), nullptr, 0, SPNG_FMT_RGBA8,
                             SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) == 0;
}

bool RowReader::Row(uint8_t* bgra) {
    if (!state_) return false;
    const int error = spng_decode_row(state_->context.get(), bgra, state_->rowBytes);
    // The last row answers "end of image".
    if (error != 0 && error != SPNG_EOI) return false;
    ToBgra(bgra, state_->rowBytes);
    return true;
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (!data || size < 8 || std::memcmp(data, kSignature, 8) != 0) return Fail(ReadStatus::NotThisFormat);
    return ByteSource::Guarded(out, [&]() { return Decode(data, size, request, out); });
}

}  // namespace Png
