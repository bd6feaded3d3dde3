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

// White point and red, green and blue primaries as CIE xy; sRGB's unless given.
struct Chromaticities {
    double whiteX = 0.3127, whiteY = 0.3290;
    double redX = 0.64, redY = 0.33;
    double greenX = 0.30, greenY = 0.60;
    double blueX = 0.15, blueY = 0.06;
};

// An RGB profile for pictures whose file gives only a power-law curve
// (`gamma`, the exponent from the stored numbers to light: 2.2 for most)
// and primaries, as PNG's gAMA and cHRM do. Empty when Little CMS cannot
// make one of them (primaries that span no colour space).
std::vector<uint8_t> FromGamma(double gamma, const Chromaticities& primaries);

// CMYK samples (4 bytes a pixel, 0 = no ink, `image.width` * `image.height`
// of them) into the picture's blue, green and red through the CMYK profile
// `icc` into sRGB, alpha as it is. False, and the picture untouched, when
// the profile is not a CMYK profile Little CMS can use.
bool CmykToSrgb(const uint8_t* cmyk, const std::vector<uint8_t>& icc, Image& image);

}  // namespace ColourProfile
