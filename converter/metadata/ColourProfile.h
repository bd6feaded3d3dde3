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
