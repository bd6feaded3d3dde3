// Netpbm: PBM, PGM and PPM, plain (ASCII, P1-P3) and raw (P4-P6), with
// comments anywhere in the header and samples of up to 16 bits; and PAM (P7)
// with one to four channels (grey, grey and alpha, RGB, RGB and alpha). Pure:
// no Windows types.
#pragma once

#include <memory>

#include "converter/base/ReadAt.h"
#include "converter/readers/Reader.h"

namespace Netpbm {

// The first picture of the file (a Netpbm file may hold several in a row).
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

// A raw (binary: P4 to P7) file's rows, each read from its place in the
// file as it is asked for: a picture of any height in the memory of one
// row, the same pixels as Read. Plain (text) files are Unsupported here.
class RowReader : public RowPicture {
public:
    RowReader();
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // Reads the header; Damaged when the file is too short for its raster.
    ReadResult Open(ReadAt readAt, uint64_t size);

    bool Begin();
    // The next row, Size().width BGRA pixels; false when the file fails.
    bool Row(uint8_t* bgra);

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace Netpbm
