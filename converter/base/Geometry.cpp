#include "converter/base/Geometry.h"

namespace Geometry {

namespace {

// numerator / denominator rounded half up, at least 1.
uint32_t RoundedQuotient(uint64_t numerator, uint64_t denominator) {
    const uint64_t q = (2 * numerator + denominator) / (2 * denominator);
    return q == 0 ? 1 : static_cast<uint32_t>(q);
}

}  // namespace

PixelSize FitInside(PixelSize source, PixelSize box, bool enlarge) {
    if (source.width == 0 || source.height == 0 || box.width == 0 || box.height == 0) return {};
    if (!enlarge && source.width <= box.width && source.height <= box.height) return source;
    // Compare the aspect ratios exactly (cross products in 64 bits): the side
    // that meets the box first takes the box's length.
    const uint64_t widthByBoxHeight = uint64_t{source.width} * box.height;
    const uint64_t heightByBoxWidth = uint64_t{source.height} * box.width;
    if (widthByBoxHeight >= heightByBoxWidth)
        return {box.width, RoundedQuotient(uint64_t{source.height} * box.width, source.width)};
    return {RoundedQuotient(uint64_t{source.width} * box.height, source.height), box.height};
}

}  // namespace Geometry
