// TIFF through libtiff: one page, 8-bit RGB, or RGBA with unassociated
// alpha when some pixel is transparent; LZW with horizontal differencing,
// strips of about 256 KB. The metadata is put in afterwards
// (TiffTags::Embed), into the same first directory. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "converter/base/Image.h"
#include "converter/base/RandomAccess.h"
#include "converter/writers/ByteSink.h"

namespace Tiff {

// The whole file; empty when the picture is not valid or the file would
// pass what a TIFF's 32-bit offsets can name.
std::vector<uint8_t> Write(const Image& image);

// The bytes RowWriter holds for a picture of that size.
uint64_t RowWriterBytes(uint32_t width, uint32_t height);

// The same file written row by row into a file it can go back in (libtiff
// writes the directory after the strips and names it in the header at the
// end): Write is built on it.
class RowWriter : public RowSink {
public:
    RowWriter();
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // False when the size is not valid for the format or libtiff fails.
    bool Start(uint32_t width, uint32_t height, bool alpha, RandomAccess& file);
    bool Row(const uint8_t* bgra) override;
    // The last strip and the directory; false when anything failed, the
    // file's 4 GiB passed included.
    bool Finish() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Tiff
