#include "converter/writers/Webp.h"

#include <cstring>

#include <webp/encode.h>

#include "converter/base/CheckedSize.h"

namespace Webp {
namespace {

// Releases the encoder's picture and output on every way out.
struct Encoding {
    WebPPicture picture;
    WebPMemoryWriter writer;
    Encoding() {
        WebPPictureInit(&picture);
        WebPMemoryWriterInit(&writer);
    }
    ~Encoding() {
        WebPPictureFree(&picture);
        WebPMemoryWriterClear(&writer);
    }
};

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void Put24(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 3; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A chunk: its four letters, its size, its bytes and the pad byte that
// keeps the next chunk at an even offset.
void PutChunk(std::vector<uint8_t>& out, const char* fourcc, const uint8_t* data, size_t size) {
    out.insert(out.end(), fourcc, fourcc + 4);
    Put32(out, static_cast<uint32_t>(size));
    out.insert(out.end(), data, data + size);
    if (size % 2) out.push_back(0);
}

}  // namespace

std::vector<uint8_t> Write(const Image& image, int quality, bool lossless) {
    if (!image.Valid() || image.width > MaxSide || image.height > MaxSide) return {};
    size_t stride = 0;
    if (!CheckedSize::Mul(image.width, 4, stride) || stride > INT32_MAX) return {};
    WebPConfig config;
    if (!WebPConfigInit(&config)) return {};
    if (lossless) {
        config.lossless = 1;
    } else {
        const float q = static_cast<float>(quality < 1 ? 1 : quality > 100 ? 100 : quality);
        if (!WebPConfigPreset(&config, WEBP_PRESET_PHOTO, q)) return {};
    }
    if (!WebPValidateConfig(&config)) return {};
    Encoding encoding;
    encoding.picture.width = static_cast<int>(image.width);
    encoding.picture.height = static_cast<int>(image.height);
    encoding.picture.use_argb = lossless ? 1 : 0;
    if (!WebPPictureImportBGRA(&encoding.picture, image.bgra.data(), static_cast<int>(stride))) return {};
    encoding.picture.writer = WebPMemoryWrite;
    encoding.picture.custom_ptr = &encoding.writer;
    if (!WebPEncode(&config, &encoding.picture)) return {};
    return std::vector<uint8_t>(encoding.writer.mem, encoding.writer.mem + encoding.writer.size);
}

std::vector<uint8_t> Embed(const std::vector<uint8_t>& webp, const Metadata& metadata) {
    if (metadata.icc.empty() && metadata.exif.empty() && metadata.xmp.empty()) return webp;
    if (webp.size() < 12 || std::memcmp(webp.data(), "RIFF", 4) != 0 || std::memcmp(webp.data() + 8, "WEBP", 4) != 0)
        return {};
    // The encoder's chunks: an extended header when it wrote alpha, then
    // the alpha and image chunks, kept as they are.
    std::vector<uint8_t> image;
    uint32_t width = 0, height = 0;
    bool alpha = false;
    size_t at = 12;
    while (at + 8 <= webp.size()) {
        const uint8_t* chunk = webp.data() + at;
        const uint32_t size = Le32(chunk + 4);
        const size_t padded = size_t(size) + (size % 2);
        if (padded > webp.size() - at - 8) return {};
        if (std::memcmp(chunk, "VP8X", 4) == 0) {
            if (size < 10) return {};
            alpha = (chunk[8] & 0x10) != 0;
        } else {
            if (std::memcmp(chunk, "VP8 ", 4) == 0 && size >= 10) {
                // The key frame's header: its 14-bit width and height.
                width = (chunk[8 + 6] | chunk[8 + 7] << 8) & 0x3FFF;
                height = (chunk[8 + 8] | chunk[8 + 9] << 8) & 0x3FFF;
            } else if (std::memcmp(chunk, "VP8L", 4) == 0 && size >= 5) {
                const uint32_t bits = Le32(chunk + 8 + 1);
                width = (bits & 0x3FFF) + 1;
                height = ((bits >> 14) & 0x3FFF) + 1;
                alpha = alpha || ((bits >> 28) & 1) != 0;
            } else if (std::memcmp(chunk, "ALPH", 4) == 0) {
                alpha = true;
            }
            image.insert(image.end(), chunk, chunk + 8 + padded);
        }
        at += 8 + padded;
    }
    if (width == 0 || height == 0 || image.empty()) return {};

    std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'X'};
    Put32(out, 10);
    out.push_back(static_cast<uint8_t>((metadata.icc.empty() ? 0 : 0x20) | (alpha ? 0x10 : 0) |
                                       (metadata.exif.empty() ? 0 : 0x08) | (metadata.xmp.empty() ? 0 : 0x04)));
    out.insert(out.end(), 3, 0);
    Put24(out, width - 1);
    Put24(out, height - 1);
    if (!metadata.icc.empty()) PutChunk(out, "ICCP", metadata.icc.data(), metadata.icc.size());
    out.insert(out.end(), image.begin(), image.end());
    if (!metadata.exif.empty()) PutChunk(out, "EXIF", metadata.exif.data(), metadata.exif.size());
    if (!metadata.xmp.empty()) PutChunk(out, "XMP ", metadata.xmp.data(), metadata.xmp.size());
    // RIFF counts its size in 32 bits; metadata blocks are capped far below.
    if (out.size() - 8 > UINT32_MAX - 1) return {};
    const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return out;
}

}  // namespace Webp
