// Group 3 fax pages (.fax .g3n .g3f): raw one-dimensional Modified Huffman
// (ITU-T T.4) at 1728 pixels a row, rows with end-of-line codes (with or
// without fill bits before them) or without any, then byte-aligned or not;
// bits most or least significant first. The format has no magic bytes, so the
// file is taken only when its first rows decode. Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace G3Fax {

constexpr uint32_t kWidth = 1728;

// Fine resolution (204 x 196 dpi), the usual one and that of .fax and .g3f.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);
// Normal resolution (204 x 98 dpi), which the .g3n name stands for.
ReadResult ReadNormal(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace G3Fax
