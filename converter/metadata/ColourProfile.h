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

// CMYK inks into sRGB: through the file's own CMYK profile when it has one
// Little CMS can use, else through the fallback profile (FallbackCmyk), so
// that every reader of CMYK shows it alike.
class CmykToSrgb {
public:
    // `inverted`: 255 is no ink (Adobe's CMYK JPEGs, Photoshop); else 0 is.
    CmykToSrgb(const std::vector<uint8_t>& icc, bool inverted);
    ~CmykToSrgb();
    CmykToSrgb(const CmykToSrgb&) = delete;
    CmykToSrgb& operator=(const CmykToSrgb&) = delete;

    // False when not even the fallback could be used (Little CMS found no memory).
    bool Ok() const { return transform_ != nullptr; }
    // Whether the file's own profile is the one used.
    bool OwnProfile() const { return own_; }
    // `count` pixels of four ink bytes into the blue, green and red of
    // `bgra`; its alpha bytes stay as they are. `cmyk` may be `bgra`.
    void Convert(const uint8_t* cmyk, uint8_t* bgra, uint32_t count) const;
    // The picture's own four bytes a pixel, holding inks, into opaque sRGB.
    void ConvertInPlace(Image& image) const;

private:
    void* transform_ = nullptr;
    bool own_ = false;
};

// The CMYK profile for inks whose file names none: ink amounts taken as
// they are, each colour what its ink and the black leave of sRGB's white
// (red = (1 - cyan) (1 - black), ...), which is how ImageMagick, Pillow and
// Windows' own decoders show CMYK without a profile. Made once by Little CMS
// as a lookup table; empty when it found no memory.
const std::vector<uint8_t>& FallbackCmyk();

}  // namespace ColourProfile
