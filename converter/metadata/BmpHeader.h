// The resolution in a bitmap's info header (biXPelsPerMeter,
// biYPelsPerMeter). Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace BmpHeader {

// False when the bytes are no bitmap file or it gives no resolution (0).
bool Resolution(const uint8_t* data, size_t size, double& dpiX, double& dpiY);

// Sets it in a bitmap file written by an encoder; false when the bytes are no
// bitmap file with an info header.
bool SetResolution(std::vector<uint8_t>& bmp, double dpiX, double dpiY);

}  // namespace BmpHeader
