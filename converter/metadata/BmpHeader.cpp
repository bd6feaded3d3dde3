#include "converter/metadata/BmpHeader.h"

#include <algorithm>
#include <cmath>

namespace BmpHeader {
namespace {

// File header (14 bytes), then the info header: its size, width, height,
// planes, bits, compression, image size, then the two resolutions.
constexpr size_t InfoAt = 14, XAt = InfoAt + 24, YAt = InfoAt + 28;

bool IsBitmap(const uint8_t* data, size_t size) {
    if (!data || size < YAt + 4 || data[0] != 'B' || data[1] != 'M') return false;
    const uint32_t info = uint32_t{data[InfoAt]} | uint32_t{data[InfoAt + 1]} << 8 |
                          uint32_t{data[InfoAt + 2]} << 16 | uint32_t{data[InfoAt + 3]} << 24;
    return info >= 40 && info <= 124;
}

int32_t Le32(const uint8_t* p) {
    return static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
}

}  // namespace

bool Resolution(const uint8_t* data, size_t size, double& dpiX, double& dpiY) {
    if (!IsBitmap(data, size)) return false;
    const int32_t x = Le32(data + XAt), y = Le32(data + YAt);
    if (x <= 0 || y <= 0) return false;
    dpiX = x * 0.0254;
    dpiY = y * 0.0254;
    return true;
}

bool SetResolution(std::vector<uint8_t>& bmp, double dpiX, double dpiY) {
    if (!IsBitmap(bmp.data(), bmp.size()) || dpiX <= 0 || dpiY <= 0) return false;
    for (const auto& [at, dpi] : {std::pair<size_t, double>{XAt, dpiX}, {YAt, dpiY}}) {
        const uint32_t perMetre = static_cast<uint32_t>(std::lround(std::min(dpi / 0.0254, 2.0e9)));
        for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(perMetre >> (8 * i));
    }
    return true;
}

}  // namespace BmpHeader
