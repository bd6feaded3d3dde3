// Netpbm: PBM, PGM and PPM, plain (ASCII, P1-P3) and raw (P4-P6), with
// comments anywhere in the header and samples of up to 16 bits; and PAM (P7)
// with one to four channels (grey, grey and alpha, RGB, RGB and alpha). Pure:
// no Windows types.
#pragma once

#include "converter/readers/Reader.h"

namespace Netpbm {

// The first picture of the file (a Netpbm file may hold several in a row).
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Netpbm
