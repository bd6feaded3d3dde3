// JPEG through libjpeg-turbo: YCbCr with 4:2:0 chroma subsampling (what
// cameras write for photos) and optimised Huffman tables up to
// OptimisedPixels (beyond, the standard tables: optimising holds every
// coefficient of the picture until the end). The source's metadata is put
// in afterwards (JpegMarkers::Embed). Pure: no Windows types.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "converter/base/Image.h"
#include "converter/writers/ByteSink.h"

namespace Jpeg {

// The whole file at `quality` (1 to 100, clamped); alpha is left out (the
// picture is opaque by then). Empty when the picture is not valid or larger
// than the format allows.
std::vector<uint8_t> Write(const Image& image, int quality);

// JPEG's sides are 16-bit numbers.
constexpr uint32_t MaxSide = 65535;

// Pictures up to this many pixels get Huffman tables made for them (files
// about 5 % smaller): libjpeg then holds all coefficients, 3 bytes a pixel,
// and encodes them in a second pass. Beyond, as libvips always does, the
// standard tables: a photo's worker then holds a band of rows, not 36 MB
// of coefficients for 12 megapixels, and spends 40 % less on encoding.
constexpr uint64_t OptimisedPixels = uint64_t{4} << 20;

// The bytes the encoder holds for a picture of that size.
uint64_t EncoderBytes(uint32_t width, uint32_t height);

// The same file written row by row into a sink: Write is built on it.
class RowWriter : public RowSink {
public:
    RowWriter();
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // False when the size is not valid for the format or libjpeg fails.
    bool Start(uint32_t width, uint32_t height, int quality, ByteSink sink);
    bool Row(const uint8_t* bgra) override;
    bool Finish() override;

    // libjpeg's state; named here for its callbacks.
    struct Session;

private:
    std::unique_ptr<Session> session_;
};

}  // namespace Jpeg
