#include "converter/readers/Jxl.h"

#include <cstring>
#include <utility>
#include <vector>

#include <jxl/decode.h>

#include "converter/base/CheckedSize.h"
#include "converter/metadata/Exif.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/readers/ByteSource.h"

namespace Jxl {
namespace {

using ByteSource::Fail;

struct Decoder {
    JxlDecoder* decoder;
    ~Decoder() { JxlDecoderDestroy(decoder); }
};

// An Exif or XMP box as the decoder hands it out, in pieces, unpacked from
// Brotli where the box is compressed (its size is then known only at its
// end). A box above MaxMetadataBlockBytes is dropped, and the decoder skips
// the rest of it.
class BoxCollector {
public:
    // At a box's start: the previous one finished, this one taken if wanted.
    void Start(JxlDecoder* decoder, Metadata& metadata) {
        Finish(decoder);
        JxlBoxType type;
        if (JxlDecoderGetBoxType(decoder, type, JXL_TRUE) != JXL_DEC_SUCCESS) return;
        if (std::memcmp(type, "Exif", 4) == 0 && !haveExif_) {
            target_ = &metadata.exif;
            exif_ = true;
        } else if (std::memcmp(type, "xml ", 4) == 0 && metadata.xmp.empty()) {
            target_ = &metadata.xmp;
            exif_ = false;
        } else {
            return;
        }
        buffer_.assign(size_t{1} << 16, 0);
        used_ = 0;
        if (JxlDecoderSetBoxBuffer(decoder, buffer_.data(), buffer_.size()) != JXL_DEC_SUCCESS) target_ = nullptr;
    }

    // The box's buffer full: a larger one, or the box dropped.
    void More(JxlDecoder* decoder) {
        if (!target_) return;
        used_ = buffer_.size() - JxlDecoderReleaseBoxBuffer(decoder);
        if (buffer_.size() >= MaxMetadataBlockBytes) {
            target_ = nullptr;
            return;
        }
        buffer_.resize(buffer_.size() * 2);
        if (JxlDecoderSetBoxBuffer(decoder, buffer_.data() + used_, buffer_.size() - used_) != JXL_DEC_SUCCESS)
            target_ = nullptr;
    }

    // At the next box, or when decoding stops: the box's bytes handed over.
    void Finish(JxlDecoder* decoder) {
        if (!target_) return;
        const size_t left = JxlDecoderReleaseBoxBuffer(decoder);
        buffer_.resize(buffer_.size() - left);
        if (exif_) {
            *target_ = ExifFromBox(buffer_.data(), buffer_.size());
            haveExif_ = !target_->empty();
        } else {
            target_->swap(buffer_);
        }
        target_ = nullptr;
        std::vector<uint8_t>().swap(buffer_);
    }

private:
    std::vector<uint8_t>* target_ = nullptr;
    bool exif_ = false;
    bool haveExif_ = false;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
};

bool IsSrgb(const JxlColorEncoding& encoding) {
    return encoding.white_point == JXL_WHITE_POINT_D65 && encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB &&
           (encoding.color_space == JXL_COLOR_SPACE_GRAY ||
            (encoding.color_space == JXL_COLOR_SPACE_RGB && encoding.primaries == JXL_PRIMARIES_SRGB));
}

// For a picture the decoder converts from its internal colour space
// (lossy JPEG XL): the original's primaries and white point with sRGB's
// tone curve, which 8 bits hold without banding (a linear or HDR original
// would band or wash out). sRGB itself for an original known only by an ICC
// profile, which the decoder cannot convert to.
void ChooseOutputColour(JxlDecoder* decoder, bool grey) {
    JxlColorEncoding wanted;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &wanted) !=
            JXL_DEC_SUCCESS ||
        wanted.color_space == JXL_COLOR_SPACE_XYB || wanted.color_space == JXL_COLOR_SPACE_UNKNOWN) {
        std::memset(&wanted, 0, sizeof wanted);
        wanted.color_space = grey ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
        wanted.white_point = JXL_WHITE_POINT_D65;
        wanted.primaries = JXL_PRIMARIES_SRGB;
        wanted.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    }
    wanted.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    wanted.gamma = 0;
    JxlDecoderSetPreferredColorProfile(decoder, &wanted);
}

// The profile of the pixels as the decoder hands them out; none for sRGB.
std::vector<uint8_t> ProfileOfPixels(JxlDecoder* decoder) {
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
            JXL_DEC_SUCCESS &&
        IsSrgb(encoding))
        return {};
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS ||
        size == 0 || size > MaxMetadataBlockBytes)
        return {};
    std::vector<uint8_t> icc(size);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), size) !=
        JXL_DEC_SUCCESS)
        return {};
    return icc;
}

// The decoder writes red, green, blue, alpha; Image keeps blue first.
void SwapRedBlue(Image& image) {
    uint8_t* pixel = image.bgra.data();
    for (size_t i = 0, n = image.bgra.size() / 4; i < n; ++i, pixel += 4) std::swap(pixel[0], pixel[2]);
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (!IsJxl(data, size)) return Fail(ReadStatus::NotThisFormat);
    Decoder decoder{JxlDecoderCreate(nullptr)};
    if (!decoder.decoder) return Fail(ReadStatus::OutOfMemory);
    JxlDecoder* const dec = decoder.decoder;
    // The orientation is handed on, so that the picture is turned once, where
    // every kind is, and its Exif block then says so.
    if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE |
                                           JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetDecompressBoxes(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS)
        return Fail(ReadStatus::Damaged);
    JxlDecoderCloseInput(dec);

    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info = {};
    BoxCollector boxes;
    bool pictureDone = false;
    while (!pictureDone) {
        switch (JxlDecoderProcessInput(dec)) {
        case JXL_DEC_BASIC_INFO: {
            if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS) return Fail(ReadStatus::Damaged);
            // Asked before the decoder takes any memory for pixels.
            const uint32_t channels = info.num_color_channels + info.num_extra_channels;
            const ReadResult admitted =
                ByteSource::Admit(info.xsize, info.ysize,
                                  DecoderBytes(uint64_t(info.xsize) * info.ysize, channels), request);
            if (!admitted.Ok()) return admitted;
            break;
        }
        case JXL_DEC_COLOR_ENCODING:
            if (!info.uses_original_profile) ChooseOutputColour(dec, info.num_color_channels == 1);
            out.metadata.icc = ProfileOfPixels(dec);
            break;
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            size_t needed = 0;
            if (JxlDecoderImageOutBufferSize(dec, &format, &needed) != JXL_DEC_SUCCESS)
                return Fail(ReadStatus::Damaged);
            // Allocate re-checks the size; the memory was asked for above, once.
            ReadRequest asked = request;
            asked.admit = nullptr;
            const ReadResult taken = ByteSource::Allocate(out.image, info.xsize, info.ysize, asked);
            if (!taken.Ok()) return taken;
            if (needed != out.image.bgra.size() ||
                JxlDecoderSetImageOutBuffer(dec, &format, out.image.bgra.data(), out.image.bgra.size()) !=
                    JXL_DEC_SUCCESS)
                return Fail(ReadStatus::Damaged);
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            // Of an animation the first frame is enough; the rest is not decoded.
            pictureDone = true;
            break;
        case JXL_DEC_BOX:
            boxes.Start(dec, out.metadata);
            break;
        case JXL_DEC_BOX_NEED_MORE_OUTPUT:
            boxes.More(dec);
            break;
        case JXL_DEC_SUCCESS:
            // Every box seen and no picture: the codestream is missing.
            return Fail(ReadStatus::Damaged);
        case JXL_DEC_NEED_MORE_INPUT:
        case JXL_DEC_ERROR:
        default:
            return Fail(ReadStatus::Damaged);
        }
    }
    boxes.Finish(dec);
    if (!out.image.Valid()) return Fail(ReadStatus::Damaged);
    SwapRedBlue(out.image);

    out.orientation = info.orientation >= 1 && info.orientation <= 8 ? int(info.orientation) : 1;
    // The codestream's orientation is the one that counts. An Exif block
    // saying otherwise over pixels that stand as stored would turn them in
    // every viewer: it says 1 (the result's pipeline resets it where it turns).
    if (!out.metadata.exif.empty() && out.orientation == 1 &&
        ExifOrientation::FromTiff(out.metadata.exif.data(), out.metadata.exif.size()) != 1)
        out.metadata.exif = Exif::ForResult(out.metadata.exif, info.xsize, info.ysize, true);
    return {};
}

}  // namespace

bool IsJxl(const uint8_t* head, size_t size) {
    static const uint8_t container[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    return (size >= 2 && head[0] == 0xFF && head[1] == 0x0A) ||
           (size >= sizeof container && std::memcmp(head, container, sizeof container) == 0);
}

uint64_t DecoderBytes(uint64_t pixels, uint32_t channels) {
    // Four bytes a sample; a second set of planes for blending and the
    // frames an animation refers back to; 16 MB of tables and group buffers.
    const uint64_t perPixel = uint64_t(channels < 3 ? 3 : channels) * 4 * 2;
    if (pixels > (UINT64_MAX - (uint64_t{16} << 20)) / perPixel) return UINT64_MAX;
    return pixels * perPixel + (uint64_t{16} << 20);
}

std::vector<uint8_t> ExifFromBox(const uint8_t* box, size_t size) {
    if (size < 4) return {};
    const uint32_t offset = uint32_t(box[0]) << 24 | uint32_t(box[1]) << 16 | uint32_t(box[2]) << 8 | box[3];
    if (offset > size - 4) return {};
    const uint8_t* block = box + 4 + offset;
    size_t length = size - 4 - offset;
    // Some writers keep JPEG's "Exif\0\0" before the TIFF header.
    if (length >= 6 && std::memcmp(block, "Exif\0\0", 6) == 0) {
        block += 6;
        length -= 6;
    }
    if (length == 0) return {};
    return std::vector<uint8_t>(block, block + length);
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] {
        const ReadResult result = Decode(data, size, request, out);
        if (!result.Ok()) out = Decoded{};
        return result;
    });
}

}  // namespace Jxl
