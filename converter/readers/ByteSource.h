// What the small readers of our own share: the byte cursor, and the one place where a picture's pixel
// memory is taken, after its size has been checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "converter/base/ByteCursor.h"
#include "converter/base/CheckedSize.h"
#include "converter/readers/Reader.h"

namespace ByteSource {

inline ReadResult Fail(ReadStatus status, const wchar_t* reason = nullptr) {
    ReadResult result;
    result.status = status;
    result.reason = reason;
    return result;
}

// A reader's decoding with `out` emptied first; running out of memory on the
// way is a result like any other, with no half-filled picture left in `out`.
template <class Decode>
ReadResult Guarded(Decoded& out, Decode decode) {
    try {
        out = Decoded{};
        return decode();
    } catch (const std::bad_alloc&) {
        out.image = Image{};
        return Fail(ReadStatus::OutOfMemory);
    }
}

using Cursor = ByteCursor;

// Whether a picture of this size may be taken at all: its pixel count within
// the request's cap and its bytes within size_t. Nothing allocated.
inline ReadResult CheckSize(uint64_t width, uint64_t height, const ReadRequest& request) {
    if (width == 0 || height == 0) return Fail(ReadStatus::Damaged);
    size_t pixels = 0, bytes = 0;
    if (width > UINT32_MAX || height > UINT32_MAX || !CheckedSize::Mul(width, height, pixels) ||
        pixels > request.maxPixels || !CheckedSize::Mul(pixels, 4, bytes))
        return Fail(ReadStatus::TooLarge);
    return ReadResult{};
}

// The size check, then the memory asked for: the picture and what the
// decoder holds beside it. Before any of it is allocated.
inline ReadResult Admit(uint64_t width, uint64_t height, uint64_t decoderBytes, const ReadRequest& request) {
    ReadResult result = CheckSize(width, height, request);
    if (!result.Ok()) return result;
    if (!request.Admits(width, height, decoderBytes)) return Fail(ReadStatus::OutOfMemory);
    return result;
}

// Sizes the picture, opaque black, once its pixel count has passed the
// request's cap and its memory has been admitted (with `decoderBytes` the
// reader holds beside it). A header may claim anything: nothing is
// allocated before.
inline ReadResult Allocate(Image& image, uint64_t width, uint64_t height, const ReadRequest& request,
                           uint64_t decoderBytes = 0) {
    ReadResult admitted = Admit(width, height, decoderBytes, request);
    if (!admitted.Ok()) return admitted;
    try {
        image.bgra.assign(static_cast<size_t>(width * height) * 4, 0);
    } catch (const std::bad_alloc&) {
        image.bgra.clear();
        return Fail(ReadStatus::OutOfMemory);
    }
    image.width = static_cast<uint32_t>(width);
    image.height = static_cast<uint32_t>(height);
    for (size_t i = 3; i < image.bgra.size(); i += 4) image.bgra[i] = 0xFF;
    return ReadResult{};
}

inline void Put(uint8_t* pixel, uint32_t b, uint32_t g, uint32_t r, uint32_t a = 0xFF) {
    pixel[0] = static_cast<uint8_t>(b);
    pixel[1] = static_cast<uint8_t>(g);
    pixel[2] = static_cast<uint8_t>(r);
    pixel[3] = static_cast<uint8_t>(a);
}

// A sample of 0..maxval (at most 65535) to 0..255, rounded down, as
// ImageMagick does: the two then agree pixel for pixel.
inline uint32_t Scale(uint32_t value, uint32_t maxval) {
    if (value >= maxval) return 255;
    return value * 255u / maxval;
}

// The same for alpha, rounded up: ImageMagick keeps opacity (1 - alpha) and
// rounds that down.
inline uint32_t ScaleAlpha(uint32_t value, uint32_t maxval) {
    if (value >= maxval) return 255;
    return 255 - Scale(maxval - value, maxval);
}

}  // namespace ByteSource
