// Colour conversion through Little CMS, for results whose format carries no
// profile: a viewer takes their numbers for sRGB, so they are made sRGB.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace ColourProfile {

// Converts the picture's colours from the RGB profile `icc` into sRGB (alpha
// as it is). False, and the picture untouched, when there is no profile or
// it is not an RGB profile Little CMS can use: such a picture counts as sRGB.
bool ToSrgb(Image& image, const std::vector<uint8_t>& icc);

}  // namespace ColourProfile
