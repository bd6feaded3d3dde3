// PNG, fast and small: each row filtered by the filter whose result has the
// smallest sum of absolute differences (libpng's heuristic), the whole
// compressed at once by libdeflate. Grey, RGB or RGBA at 8 bits a sample, or
// a palette of up to 256 colours (transparency in tRNS; up to 16 colours
// packed 2, 4 or 8 pixels a byte), whichever holds the picture losslessly in
// the fewest bytes. Pure: no Windows types.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Png {

// A chunk written before the image data (iCCP, pHYs, eXIf, iTXt: what the
// source's metadata asks for); its length and CRC are added here.
struct Chunk {
    std::array<char, 4> type;
    std::vector<uint8_t> data;
};

struct Options {
    // Always 8-bit RGBA, whatever the pixels (an icon's directory says
    // 32 bits a pixel for its PNG entries).
    bool alwaysRgba = false;
    // libdeflate's level, 1 (fastest) to 12 (smallest); a palette picture
    // takes at least 9.
    int level = 3;
    std::vector<Chunk> chunks;
};

// Whether Write stores the picture as grey (every pixel opaque and B = G = R):
// such a file may carry a grey profile only.
bool WritesGrey(const Image& image, const Options& options);

// The whole file; empty when the picture is not valid or larger than the
// format allows.
std::vector<uint8_t> Write(const Image& image, const Options& options);

}  // namespace Png
