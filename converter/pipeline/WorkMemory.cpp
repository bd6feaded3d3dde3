#include "converter/pipeline/WorkMemory.h"

#include <algorithm>

#include "converter/base/CheckedSize.h"

namespace WorkMemory {

PixelSize LargestResult(PixelSize decoded, PixelSize box, bool enlarge) {
    if (box.width == 0 || box.height == 0) return decoded;
    const PixelSize upright = Geometry::FitInside(decoded, box, enlarge);
    const PixelSize sideways = Geometry::FitInside({decoded.height, decoded.width}, box, enlarge);
    return {std::max(upright.width, sideways.width), std::max(upright.height, sideways.height)};
}

uint64_t Peak(PixelSize decoded, uint64_t decoderBytes, PixelSize result) {
    size_t picture = 0, resultBytes = 0, rows = 0, afterDecoding = 0, peak = 0;
    const uint32_t longSide = std::max(decoded.width, decoded.height);
    // The resampler's intermediate rows: 4 floats a pixel, the result's
    // width by the source's height (the long side, whichever way it turns).
    const bool fits = CheckedSize::Product({decoded.width, decoded.height, 4}, picture) &&
                      CheckedSize::Product({result.width, result.height, 4}, resultBytes) &&
                      CheckedSize::Product({result.width, longSide, 16}, rows) &&
                      CheckedSize::Add(picture, rows, afterDecoding) &&
                      CheckedSize::MulAdd(resultBytes, 2, afterDecoding, afterDecoding) &&
                      CheckedSize::Add(picture, std::max<uint64_t>(decoderBytes, afterDecoding), peak);
    return fits ? peak : Unbounded;
}

}  // namespace WorkMemory
