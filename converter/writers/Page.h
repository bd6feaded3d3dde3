// What the PostScript and the PDF writer share: where a picture goes on an
// A4 page, the two compressed forms of its pixels (a JPEG stream, or the
// run-length filter over plain RGB) and reading a JPEG stream's size.
// Pure: no Windows types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "converter/base/Image.h"

namespace Page {

// A4 in points (1/72 inch), portrait, and the margin kept free on each side.
constexpr double Width = 595.0;
constexpr double Height = 842.0;
constexpr double Margin = 36.0;

// The picture's rectangle on the page, in points from the lower left: as
// large as fits inside the margins with the picture's aspect ratio (small
// pictures are enlarged), centred.
struct Placement {
    double x = 0, y = 0, width = 0, height = 0;
};
Placement Place(uint32_t pixelWidth, uint32_t pixelHeight);

// A number as PostScript and PDF read it: fixed point, at most 4 decimals,
// no exponent, no trailing zeros.
std::string Number(double value);

// The pixels as the page description hands them to its image operator:
// `filter` names the decoding filter (DCTDecode or RunLengthDecode).
struct Pixels {
    uint32_t width = 0;
    uint32_t height = 0;
    int components = 0;  // 1 grey, 3 RGB
    const char* filter = "";
    std::vector<uint8_t> data;
};

// A baseline or progressive JPEG stream (JFIF, as WIC writes it), taken as it
// is after reading its frame header. False when the bytes are no JPEG stream
// this can read: no start-of-image, no frame header before the scan data,
// components other than 1 or 3, a zero size.
bool FromJpeg(const std::vector<uint8_t>& jpeg, Pixels& pixels);

// The picture's RGB (alpha left out: the picture is opaque by then) under
// the run-length filter of PostScript Level 2 and PDF, EOD included.
Pixels FromImage(const Image& image);

// Run-length filter form of `bytes`: a length byte 0..127 copies the next
// n + 1 bytes, 129..255 repeats the next byte 257 - n times, 128 ends.
std::vector<uint8_t> RunLength(const std::vector<uint8_t>& bytes);

}  // namespace Page
