#include "converter/readers/PhotoCd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "converter/readers/ByteSource.h"

namespace PhotoCd {
namespace {

constexpr uint32_t kWidth = 768;
constexpr uint32_t kHeight = 512;
constexpr size_t kSignatureAt = 0x800;   // "PCD_IPI": the image pack information
constexpr size_t kAttributesAt = 0xE02;  // its attribute byte: the rotation in bits 0-1
constexpr size_t kBaseAt = 0x30000;      // the base picture, after the two smaller ones

// A chroma plane (half width, half height) brought to full size, each sample
// sitting on the even luma pixels and the ones between interpolated.
uint8_t Chroma(const uint8_t* plane, uint32_t x, uint32_t y) {
    constexpr uint32_t w = kWidth / 2, h = kHeight / 2;
    const uint32_t x0 = x / 2, y0 = y / 2;
    const uint32_t x1 = std::min(x0 + (x & 1), w - 1), y1 = std::min(y0 + (y & 1), h - 1);
    const uint32_t sum = plane[y0 * w + x0] + plane[y0 * w + x1] + plane[y1 * w + x0] + plane[y1 * w + x1];
    return static_cast<uint8_t>((sum + 2) / 4);
}

uint8_t Clamp(double value) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, value)))); }

}  // namespace

ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out) {
    if (size < kSignatureAt + 7 || std::memcmp(data + kSignatureAt, "PCD_IPI", 7) != 0)
        return ReadResult{ReadStatus::NotThisFormat, nullptr};
    // Each pair of rows: two luma rows, then one row of each chroma plane.
    constexpr size_t kPairBytes = kWidth * 2 + kWidth;
    if (size - kBaseAt < kPairBytes * (kHeight / 2) || size < kBaseAt) return ReadResult{ReadStatus::Damaged, nullptr};
    if (const ReadResult admitted = ByteSource::Admit(kWidth, kHeight, uint64_t{kWidth} * kHeight / 2, request);
        !admitted.Ok())
        return admitted;

    std::vector<uint8_t> c1, c2;
    try {
        c1.resize(kWidth / 2 * kHeight / 2);
        c2.resize(c1.size());
        out.image.width = kWidth;
        out.image.height = kHeight;
        out.image.bgra.resize(size_t{kWidth} * kHeight * 4);
    } catch (const std::bad_alloc&) {
        out.image = Image();
        return ReadResult{ReadStatus::OutOfMemory, nullptr};
    }
    const uint8_t* base = data + kBaseAt;
    for (uint32_t pair = 0; pair < kHeight / 2; ++pair) {
        const uint8_t* p = base + pair * kPairBytes + kWidth * 2;
        std::copy(p, p + kWidth / 2, c1.begin() + pair * (kWidth / 2));
        std::copy(p + kWidth / 2, p + kWidth, c2.begin() + pair * (kWidth / 2));
    }
    // PhotoYCC to RGB: luma and the two colour differences scaled and
    // offset as Kodak gives them. Photo CD keeps highlights up to 1.3584
    // times reference white; the whole range is brought into 0-255, so bright
    // skies keep their detail instead of being clipped.
    for (uint32_t y = 0; y < kHeight; ++y) {
        const uint8_t* luma = base + (y / 2) * kPairBytes + (y & 1) * kWidth;
        uint8_t* px = out.image.Row(y);
        for (uint32_t x = 0; x < kWidth; ++x, px += 4) {
            const double l = 1.3584 * luma[x];
            const double cb = 2.2179 * (Chroma(c1.data(), x, y) - 156.0);
            const double cr = 1.8215 * (Chroma(c2.data(), x, y) - 137.0);
            px[2] = Clamp((l + cr) / 1.3584);
            px[1] = Clamp((l - 0.194 * cb - 0.509 * cr) / 1.3584);
            px[0] = Clamp((l + cb) / 1.3584);
            px[3] = 255;
        }
    }
    // The rotation counts quarter turns that bring the stored picture upright.
    static const int kOrientation[4] = {1, 8, 3, 6};
    out.orientation = kOrientation[data[kAttributesAt] & 3];
    out.metadata = Metadata();
    return ReadResult{};
}

}  // namespace PhotoCd
