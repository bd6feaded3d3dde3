// What an ICC profile's header and tag table say about it, read from its
// bytes without a colour engine. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

namespace IccProfile {

// The colour space of the data the profile describes (its header's field).
enum class Space { Unknown, Rgb, Grey, Cmyk, Other };

// Unknown when the bytes are no profile header (too short, no 'acsp').
Space SpaceOf(const std::vector<uint8_t>& icc);

// Whether a JP2 file may label the profile "restricted ICC": a monochrome
// profile (a grey TRC) or a three-component matrix-based one (three colorant
// columns and three TRCs), converting into the XYZ connection space, of an
// input or display device class. Anything else needs the general ICC label.
bool QualifiesRestricted(const std::vector<uint8_t>& icc);

}  // namespace IccProfile
