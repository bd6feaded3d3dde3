// How big a result is. Pure: no Windows types.
#pragma once

#include <cstdint>

struct PixelSize {
    uint32_t width = 0;
    uint32_t height = 0;
    bool operator==(const PixelSize& other) const {
        return width == other.width && height == other.height;
    }
};

namespace Geometry {

// The largest size with the source's aspect ratio that fits inside `box`,
// each side rounded to the nearest pixel and at least 1. Without `enlarge`
// a source that already fits keeps its size. Zero-sized inputs give {0, 0}.
PixelSize FitInside(PixelSize source, PixelSize box, bool enlarge);

}  // namespace Geometry
