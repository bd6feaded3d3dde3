// PNG, fast and small: each row filtered by the filter whose result has the
// smallest sum of absolute differences (libpng's heuristic), the whole
// compressed at once by libdeflate. Grey, RGB or RGBA at 8 bits a sample, or
// a palette of up to 256 colours (transparency in tRNS; up to 16 colours
// packed 2, 4 or 8 pixels a byte), whichever holds the picture losslessly in
// the fewest bytes. Pure: no Windows types.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "converter/base/Image.h"
#include "converter/writers/ByteSink.h"

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

// Pictures of more pixels than this are written row by row (RowWriter):
// zlib's deflate as the rows come, no palette, so that neither the picture's
// filtered rows nor its compressed data are ever held whole.
constexpr uint64_t RowPixels = uint64_t{32} << 20;

// Grey, RGB or RGBA at 8 bits a sample, written as the rows come.
enum class RowLayout { Grey, Rgb, Rgba };

// The layout a picture held whole is written in by RowWriter: grey when
// every pixel is opaque and grey, RGB when opaque, else RGBA.
RowLayout LayoutOf(const Image& image);

// The bytes RowWriter holds for a picture of that width.
uint64_t RowWriterBytes(uint32_t width);

class RowWriter : public RowSink {
public:
    RowWriter();
    ~RowWriter();
    RowWriter(const RowWriter&) = delete;
    RowWriter& operator=(const RowWriter&) = delete;

    // Signature, header and the options' chunks go out at once. False
    // when the size is not valid for the format or no memory.
    bool Start(uint32_t width, uint32_t height, RowLayout layout, const Options& options, ByteSink sink);
    bool Row(const uint8_t* bgra) override;
    // The last data and the end chunk; false when anything failed.
    bool Finish() override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Png
