#include "converter/readers/Webp.h"

#include <cstring>

#include <webp/decode.h>

#include "converter/base/CheckedSize.h"
#include "converter/readers/ByteSource.h"

namespace Webp {
namespace {

using ByteSource::Fail;

const wchar_t* const kAnimated = L"Animierte WebP-Dateien werden nicht gelesen.";

ReadResult FromStatus(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OK: return {};
    case VP8_STATUS_OUT_OF_MEMORY: return Fail(ReadStatus::OutOfMemory);
    case VP8_STATUS_UNSUPPORTED_FEATURE: return Fail(ReadStatus::Unsupported);
    default: return Fail(ReadStatus::Damaged);
    }
}

ReadResult Decode(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (!IsWebp(data, size)) return Fail(ReadStatus::NotThisFormat);
    // The size and kind from the headers, before any pixel memory is taken.
    WebPBitstreamFeatures features;
    ReadResult result = FromStatus(WebPGetFeatures(data, size, &features));
    if (!result.Ok()) return result;
    if (features.has_animation) return Fail(ReadStatus::Unsupported, kAnimated);
    if (features.width <= 0 || features.height <= 0) return Fail(ReadStatus::Damaged);
    result = ByteSource::Allocate(out.image, static_cast<uint64_t>(features.width),
                                  static_cast<uint64_t>(features.height), request);
    if (!result.Ok()) return result;
    size_t stride;
    if (!CheckedSize::Mul(out.image.width, 4, stride) || stride > INT32_MAX) return Fail(ReadStatus::TooLarge);
    // Straight (not premultiplied) blue, green, red, alpha, as Image keeps them.
    if (!WebPDecodeBGRAInto(data, size, out.image.bgra.data(), out.image.bgra.size(), static_cast<int>(stride))) {
        out.image = Image{};
        return Fail(ReadStatus::Damaged);
    }
    return {};
}

}  // namespace

bool IsWebp(const uint8_t* head, size_t size) {
    return size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    return ByteSource::Guarded(out, [&] { return Decode(data, size, request, out); });
}

}  // namespace Webp
