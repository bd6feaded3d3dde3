#include "converter/readers/Heif.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <libheif/heif.h>

#include "converter/base/CheckedSize.h"
#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/Exif.h"
#include "converter/metadata/Xmp.h"
#include "converter/readers/ByteSource.h"

namespace Heif {
namespace {

using ByteSource::Fail;

// libheif's objects, each released on every way out.
struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct NclxDeleter {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};

// The decoder plugins are registered once a process; heif_init counts its
// callers and is safe to call again.
struct Library {
    Library() { heif_init(nullptr); }
};

ReadResult FromError(const heif_error& error) {
    switch (error.code) {
    case heif_error_Ok: return {};
    case heif_error_Memory_allocation_error:
        return Fail(error.subcode == heif_suberror_Security_limit_exceeded ? ReadStatus::TooLarge
                                                                           : ReadStatus::OutOfMemory);
    case heif_error_Unsupported_feature:
    case heif_error_Unsupported_filetype:
    case heif_error_Decoder_plugin_error:
        return Fail(ReadStatus::Unsupported);
    default: return Fail(ReadStatus::Damaged);
    }
}

// A file's brands are four-character codes; these name HEIF images (HEVC
// still images and sequences, the general image brands) and AVIF.
bool IsHeifBrand(const uint8_t* brand) {
    static const char* const kBrands[] = {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm",
                                          "hevs", "mif1", "msf1", "avif", "avis"};
    for (const char* known : kBrands)
        if (std::memcmp(brand, known, 4) == 0) return true;
    return false;
}

// What the decoder holds beside the result while it decodes a picture of
// `pixels`: the decoded planes (luma, chroma up to 4:4:4, alpha, 1 or 2
// bytes a sample), twice while turning or cropping copies them, or once
// beside the RGBA image the colour conversion writes; the coded stream and
// the HEVC decoders' reference pictures besides (a few tiles, or one frame).
uint64_t DecoderBytes(uint64_t pixels, int bits, bool alpha) {
    const uint64_t sample = bits > 8 ? 2 : 1;
    const uint64_t planes = pixels * sample * (alpha ? 4 : 3);
    const uint64_t rgba = pixels * 4;
    return std::max(2 * planes, planes + rgba) + (uint64_t{32} << 20);
}

// An RGB profile for the nclx box's primaries when they are not sRGB's
// (BT.709): the pixels libheif hands over are in those primaries. The tone
// curve is taken as gamma 2.2 (linear where the box says so); PQ and HLG
// pictures are shown as stored.
std::vector<uint8_t> ProfileOfNclx(const heif_color_profile_nclx& nclx) {
    if (nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5 ||
        nclx.color_primaries == heif_color_primaries_unspecified)
        return {};
    ColourProfile::Chromaticities primaries;
    primaries.whiteX = nclx.color_primary_white_x;
    primaries.whiteY = nclx.color_primary_white_y;
    primaries.redX = nclx.color_primary_red_x;
    primaries.redY = nclx.color_primary_red_y;
    primaries.greenX = nclx.color_primary_green_x;
    primaries.greenY = nclx.color_primary_green_y;
    primaries.blueX = nclx.color_primary_blue_x;
    primaries.blueY = nclx.color_primary_blue_y;
    const double gamma =
        nclx.transfer_characteristics == heif_transfer_characteristic_linear ? 1.0 : 2.2;
    return ColourProfile::FromGamma(gamma, primaries);
}

void TakeProfile(const heif_image_handle* handle, Metadata& metadata) {
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (iccSize > 0 && iccSize <= MaxMetadataBlockBytes) {
        std::vector<uint8_t> icc(iccSize);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok) {
            metadata.icc.swap(icc);
            return;
        }
    }
    // libheif hands out the profile it made even when it then fails on an
    // unknown primaries code: ours to free either way.
    heif_color_profile_nclx* nclx = nullptr;
    const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &nclx);
    const std::unique_ptr<heif_color_profile_nclx, NclxDeleter> owned(nclx);
    if (error.code != heif_error_Ok || !nclx) return;
    metadata.icc = ProfileOfNclx(*nclx);
}

// The item's bytes when it is of `type` (and, for "mime", of `contentType`)
// and within the block cap.
bool ItemBytes(const heif_image_handle* handle, heif_item_id id, std::vector<uint8_t>& into) {
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size == 0 || size > MaxMetadataBlockBytes) return false;
    into.resize(size);
    if (heif_image_handle_get_metadata(handle, id, into.data()).code != heif_error_Ok) {
        into.clear();
        return false;
    }
    return true;
}

void TakeBlocks(const heif_image_handle* handle, uint32_t width, uint32_t height, Metadata& metadata) {
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count <= 0) return;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed = heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (int i = 0; i < listed; ++i) {
        const char* type = heif_image_handle_get_metadata_type(handle, ids[size_t(i)]);
        if (!type) continue;
        std::vector<uint8_t> bytes;
        if (std::strcmp(type, "Exif") == 0 && metadata.exif.empty()) {
            if (!ItemBytes(handle, ids[size_t(i)], bytes)) continue;
            const std::vector<uint8_t> body = ExifBody(bytes.data(), bytes.size());
            // The container's transformations, applied by libheif, are the
            // picture's turning; the block's orientation is a copy of it
            // for other readers and must not turn it again: made 1 here, as
            // for a picture turned upright.
            if (!body.empty()) metadata.exif = Exif::ForResult(body, width, height, true);
        } else if (std::strcmp(type, "mime") == 0 && metadata.xmp.empty()) {
            const char* content = heif_image_handle_get_metadata_content_type(handle, ids[size_t(i)]);
            if (!content || std::strcmp(content, "application/rdf+xml") != 0) continue;
            if (ItemBytes(handle, ids[size_t(i)], bytes)) metadata.xmp = Xmp::ForResult(bytes, width, height, true);
        }
    }
}

// Straight colour from premultiplied, for one row of BGRA pixels.
void UnpremultiplyRow(uint8_t* bgra, size_t bytes) {
    for (size_t i = 0; i + 3 < bytes; i += 4) {
        const uint32_t a = bgra[i + 3];
        if (a == 0 || a == 255) continue;
        for (size_t c = 0; c < 3; ++c)
            bgra[i + c] = uint8_t(std::min<uint32_t>(255, (bgra[i + c] * 255u + a / 2) / a));
    }
}

}  // namespace

struct RowReader::State {
    std::unique_ptr<heif_context, ContextDeleter> context;
    std::unique_ptr<heif_image_handle, HandleDeleter> handle;
    std::unique_ptr<heif_image, ImageDeleter> image;
    const uint8_t* plane = nullptr;
    size_t stride = 0, pixelBytes = 0;
    uint32_t next = 0;
    bool premultiplied = false;
};

RowReader::RowReader() = default;
RowReader::~RowReader() = default;

ReadResult RowReader::Open(const uint8_t* data, size_t size, uint64_t maxPixels, Decoded& out) {
    if (!IsHeif(data, size)) return Fail(ReadStatus::NotThisFormat);
    static const Library library;
    state_.reset(new State);
    State& s = *state_;
    s.context.reset(heif_context_alloc());
    if (!s.context) return Fail(ReadStatus::OutOfMemory);
    // libheif's own cap on a side, before it takes memory for any image:
    // no side longer than our pixel cap allows for a picture one pixel
    // high, nor than libheif's default.
    const uint64_t side = std::min<uint64_t>(maxPixels, 32768);
    heif_context_set_maximum_image_size_limit(s.context.get(), static_cast<int>(side));
    ReadResult result = FromError(heif_context_read_from_memory_without_copy(s.context.get(), data, size, nullptr));
    if (!result.Ok()) return result;

    heif_image_handle* primary = nullptr;
    result = FromError(heif_context_get_primary_image_handle(s.context.get(), &primary));
    if (!result.Ok() || !primary) return result.Ok() ? Fail(ReadStatus::Damaged) : result;
    s.handle.reset(primary);

    // The size as the picture stands, after the container's turning and
    // cropping. There is no reduced decoding: a preset's box gets the full
    // picture.
    const int width = heif_image_handle_get_width(primary);
    const int height = heif_image_handle_get_height(primary);
    if (width <= 0 || height <= 0) return Fail(ReadStatus::Damaged);
    ReadRequest request;
    request.maxPixels = maxPixels;
    result = ByteSource::CheckSize(uint64_t(width), uint64_t(height), request);
    if (!result.Ok()) return result;
    transparent_ = heif_image_handle_has_alpha_channel(primary) != 0;
    const int bits = std::max(heif_image_handle_get_luma_bits_per_pixel(primary),
                              heif_image_handle_get_chroma_bits_per_pixel(primary));
    // libheif decodes the coded size (the "ispe" box) before it crops: a
    // small crop of a huge picture costs the huge one. That size, too, must
    // be within the cap, and its planes are what the decoder holds.
    const int codedWidth = heif_image_handle_get_ispe_width(primary);
    const int codedHeight = heif_image_handle_get_ispe_height(primary);
    uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (codedWidth > 0 && codedHeight > 0) {
        result = ByteSource::CheckSize(uint64_t(codedWidth), uint64_t(codedHeight), request);
        if (!result.Ok()) return result;
        pixels = std::max(pixels, uint64_t(codedWidth) * uint64_t(codedHeight));
    }
    size_ = {uint32_t(width), uint32_t(height)};
    decoderBytes_ = Heif::DecoderBytes(pixels, bits, transparent_);
    s.premultiplied = transparent_ && heif_image_handle_is_premultiplied_alpha(primary);

    TakeProfile(primary, out.metadata);
    TakeBlocks(primary, size_.width, size_.height, out.metadata);
    // Turned by the container already (libheif applies it): nothing left to turn.
    out.orientation = 1;
    return {};
}

ReadResult RowReader::Begin() {
    if (!state_ || !state_->handle) return Fail(ReadStatus::Damaged);
    State& s = *state_;
    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    if (!options) return Fail(ReadStatus::OutOfMemory);
    options->convert_hdr_to_8bit = 1;
    // Three bytes a pixel where there is no alpha: a quarter less for
    // libheif to write, the same values.
    heif_image* decoded = nullptr;
    ReadResult result = FromError(heif_decode_image(s.handle.get(), &decoded, heif_colorspace_RGB,
                                                    transparent_ ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                                    options.get()));
    if (!result.Ok() || !decoded) return result.Ok() ? Fail(ReadStatus::Damaged) : result;
    s.image.reset(decoded);
    const int planeWidth = heif_image_get_width(decoded, heif_channel_interleaved);
    const int planeHeight = heif_image_get_height(decoded, heif_channel_interleaved);
    int stride = 0;
    s.plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    s.pixelBytes = transparent_ ? 4 : 3;
    size_t rowBytes = 0;
    if (!s.plane || planeWidth != int(size_.width) || planeHeight != int(size_.height) || stride <= 0 ||
        heif_image_get_bits_per_pixel_range(decoded, heif_channel_interleaved) != 8 ||
        !CheckedSize::Mul(size_t(size_.width), s.pixelBytes, rowBytes) || size_t(stride) < rowBytes) {
        s.image.reset();
        s.plane = nullptr;
        return Fail(ReadStatus::Damaged);
    }
    s.stride = size_t(stride);
    s.premultiplied = s.premultiplied || (transparent_ && heif_image_is_premultiplied_alpha(decoded));
    s.next = 0;
    return {};
}

bool RowReader::Row(uint8_t* bgra) {
    if (!state_ || !state_->plane || state_->next >= size_.height) return false;
    State& s = *state_;
    const uint8_t* from = s.plane + size_t(s.next++) * s.stride;
    uint8_t* to = bgra;
    for (uint32_t x = 0; x < size_.width; ++x, from += s.pixelBytes, to += 4) {
        to[0] = from[2];
        to[1] = from[1];
        to[2] = from[0];
        to[3] = transparent_ ? from[3] : 255;
    }
    if (s.premultiplied) UnpremultiplyRow(bgra, size_t(size_.width) * 4);
    return true;
}

namespace {

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    RowReader reader;
    ReadResult result = reader.Open(data, size, request.maxPixels, out);
    if (!result.Ok()) return result;
    // The memory asked of the budget before anything is decoded.
    const PixelSize picture = reader.Size();
    result = ByteSource::Admit(picture.width, picture.height, reader.DecoderBytes(), request);
    if (!result.Ok()) return result;
    result = reader.Begin();
    if (!result.Ok()) return result;
    // Admitted above: the picture's own memory is not asked for again.
    Image& target = out.image;
    target.bgra.resize(size_t(picture.width) * picture.height * 4);
    target.width = picture.width;
    target.height = picture.height;
    for (uint32_t y = 0; y < picture.height; ++y)
        if (!reader.Row(target.Row(y))) return Fail(ReadStatus::Damaged);
    return {};
}

}  // namespace

bool IsHeif(const uint8_t* head, size_t size) {
    if (size < 16 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
    const uint64_t box = (uint64_t(head[0]) << 24) | (uint64_t(head[1]) << 16) | (uint64_t(head[2]) << 8) | head[3];
    if (box < 16) return false;
    if (IsHeifBrand(head + 8)) return true;
    // The compatible brands after the major brand and its version, as far
    // as the box and the bytes at hand reach.
    const size_t end = static_cast<size_t>(std::min<uint64_t>(box, size));
    for (size_t at = 16; at + 4 <= end; at += 4)
        if (IsHeifBrand(head + at)) return true;
    return false;
}

std::vector<uint8_t> ExifBody(const uint8_t* item, size_t size) {
    if (size < 4) return {};
    const uint32_t offset =
        (uint32_t(item[0]) << 24) | (uint32_t(item[1]) << 16) | (uint32_t(item[2]) << 8) | uint32_t(item[3]);
    size_t at = 4;
    if (offset > size - at) return {};
    at += offset;
    // Some writers keep JPEG's "Exif\0\0" before the TIFF header, with or
    // without counting it in the offset.
    if (size - at >= 6 && std::memcmp(item + at, "Exif\0\0", 6) == 0) at += 6;
    if (size - at < 8) return {};
    const bool tiff = std::memcmp(item + at, "II*\0", 4) == 0 || std::memcmp(item + at, "MM\0*", 4) == 0;
    if (!tiff) return {};
    return std::vector<uint8_t>(item + at, item + size);
}

void Unpremultiply(Image& image) { UnpremultiplyRow(image.bgra.data(), image.bgra.size()); }

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] {
        const ReadResult result = Decode(data, size, request, out);
        if (!result.Ok()) out = Decoded{};
        return result;
    });
}

}  // namespace Heif
