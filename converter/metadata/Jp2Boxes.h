// The ICC profile in a JP2 file's colour box ('colr'). Pure: no Windows
// types. Our own because OpenJPEG 2.5.0 announces an image's profile in the
// box but writes none of its bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace Jp2Boxes {

// `jp2` with its header box's colour box ('colr') replaced by one that
// carries `icc` by method 2 (restricted ICC). Empty when `jp2` has no header
// box with a colour box, or the profile is not of the kind a plain JP2 file
// may carry (IccProfile::QualifiesRestricted): the pipeline converts the
// pixels of such a picture into sRGB instead.
std::vector<uint8_t> WithProfile(const std::vector<uint8_t>& jp2, const std::vector<uint8_t>& icc);

}  // namespace Jp2Boxes
