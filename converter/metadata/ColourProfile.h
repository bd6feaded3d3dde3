// Colour conversion through Little CMS: pixels described by a source's ICC
// profile made sRGB, and a result's profile made to fit its pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace ColourProfile {

// What the four bytes of each pixel of an Image hold when they are not yet
// sRGB, in the colour space of the profile that describes them.
enum class Layout {
    Bgra,          // RGB: blue, green, red, alpha
    GreyInBgra,    // grey: the same value in blue, green and red, then alpha
    Cmyk,          // cyan, magenta, yellow, black; 0 is no ink
    CmykInverted,  // the same with 255 for no ink (Adobe's CMYK JPEGs)
};

// Converts the pixels in place from the profile `icc` into sRGB BGRA. Alpha
// stays (CMYK has none: opaque); grey stays grey (B = G = R, sRGB's tone
// curve). False, and the picture untouched, when the profile is not of the
// layout's colour space or Little CMS cannot use it.
bool ToSrgb(Image& image, Layout layout, const std::vector<uint8_t>& icc);

// The same for an RGB profile: the picture's BGRA from `icc` into sRGB.
bool ToSrgb(Image& image, const std::vector<uint8_t>& icc);

// Makes a decoded picture's profile fit what a result of a format keeping
// profiles (`keeps`) or not can say: afterwards `icc` is empty or an RGB
// profile describing the BGRA pixels. A grey profile over grey pixels is
// converted through; an RGB one is converted through when the format keeps
// none; any other (CMYK left by a reader that did not convert, Lab, a
// damaged header) says nothing true about BGRA pixels and goes.
void ForResult(Image& image, std::vector<uint8_t>& icc, bool keeps);

}  // namespace ColourProfile
