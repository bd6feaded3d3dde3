// The PCX, RLE bitmap, WBMP and icon writers on pictures shaped by the input,
// each file read back by the strict readers and compared with the picture.
// Byte 0 picks the writer (or the dither onto a palette), bytes 1-2 the width (1 to 600, so runs pass the
// formats' limits of 63, 255 and 256), byte 3 the palette size; the rest are
// (repeat, value) pairs that make the pixels, so long runs are cheap to find.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "converter/writers/Dither.h"
#include "converter/writers/Ico.h"
#include "converter/writers/Pcx.h"
#include "converter/writers/Rle8.h"
#include "converter/writers/Wbmp.h"
#include "model/DitherModel.h"
#include "model/FormatReaders.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

// Up to `limit` values, each repeated as its pair says.
std::vector<uint32_t> Values(const uint8_t* data, size_t size, size_t limit) {
    std::vector<uint32_t> values;
    for (size_t i = 0; i + 4 < size && values.size() < limit; i += 5) {
        const uint32_t value = uint32_t{data[i + 1]} | uint32_t{data[i + 2]} << 8 | uint32_t{data[i + 3]} << 16 |
                               uint32_t{data[i + 4]} << 24;
        values.insert(values.end(), std::min<size_t>(data[i] + 1u, limit - values.size()), value);
    }
    if (values.empty()) values.push_back(0xFF000000u);
    return values;
}

Image Picture(uint32_t width, const std::vector<uint32_t>& values) {
    Image image;
    image.width = width;
    image.height = static_cast<uint32_t>((values.size() + width - 1) / width);
    image.bgra.resize(size_t{image.width} * image.height * 4);
    for (size_t i = 0; i < size_t{image.width} * image.height; ++i) {
        const uint32_t v = values[std::min(i, values.size() - 1)];
        for (int c = 0; c < 4; ++c) image.bgra[i * 4 + c] = static_cast<uint8_t>(v >> (8 * c));
    }
    return image;
}

void CheckPcx(const Image& image) {
    const auto read = Readers::ReadPcx(Pcx::Write(image));
    if (!read || read->width != image.width || read->height != image.height) Fail("PCX: unreadable");
    for (size_t i = 0; i < read->pixels.size(); ++i) {
        const uint8_t* p = image.bgra.data() + i * 4;
        if (read->pixels[i] != (uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0])) Fail("PCX: pixel differs");
    }
}

void CheckRle8(const Image& image, uint32_t colours) {
    IndexedImage indexed;
    indexed.width = image.width;
    indexed.height = image.height;
    for (uint32_t i = 0; i < colours; ++i) indexed.palette.push_back(i * 0x010203u & 0xFFFFFF);
    for (size_t i = 0; i < size_t{image.width} * image.height; ++i)
        indexed.indices.push_back(static_cast<uint8_t>(image.bgra[i * 4] % colours));
    const auto read = Readers::ReadRle8Bmp(Rle8::Write(indexed));
    if (!read) Fail("RLE8: unreadable");
    if (read->palette != indexed.palette || read->indices != indexed.indices) Fail("RLE8: differs");
    // A row costs at most 6 bytes for 5 pixels (two lone pixels as runs of
    // one, then a run of three), 3 more a 255-pixel stretch, the tail and
    // its end of line.
    const size_t rowBound = (size_t{image.width} * 6 + 4) / 5 + 3 * ((image.width + 254) / 255) + 4;
    if (Rle8::CompressRows(indexed).size() > rowBound * image.height + 2) Fail("RLE8: too large");
}

void CheckWbmp(const Image& image) {
    const auto read = Readers::ReadWbmp(Wbmp::Write(image));
    if (!read || read->width != image.width || read->height != image.height) Fail("WBMP: unreadable");
    if (read->bits != Wbmp::Threshold(image)) Fail("WBMP: bits differ from the threshold");
    for (size_t i = 0; i < read->bits.size(); ++i) {
        // Pure black and pure white never flip, whatever error arrives.
        const uint8_t grey = Wbmp::Grey(image.bgra.data() + i * 4);
        if ((grey == 0 && read->bits[i]) || (grey == 255 && !read->bits[i])) Fail("WBMP: extreme flipped");
    }
}

void CheckIco(const Image& image, uint32_t side) {
    uint32_t w = 0, h = 0;
    Ico::FitInto(image.width, image.height, side, w, h);
    if (w == 0 || h == 0 || w > side || h > side || (w != side && h != side)) Fail("ICO: fitted size");
    Image fitted = image;  // the picture cut to the fitted size stands in for a scaled one
    fitted.width = std::min(w, image.width);
    fitted.height = std::min(h, image.height);
    fitted.bgra.clear();
    for (uint32_t y = 0; y < fitted.height; ++y)
        fitted.bgra.insert(fitted.bgra.end(), image.Row(y), image.Row(y) + fitted.Stride());
    const Image square = Ico::OnSquare(fitted, side);
    if (!square.Valid() || square.width != side) Fail("ICO: square");

    std::vector<Ico::Entry> entries(2);
    entries[0].width = entries[0].height = side;
    entries[0].png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, static_cast<uint8_t>(side)};
    entries[1].width = entries[1].height = side;
    entries[1].bitmap = square;
    const auto read = Readers::ReadIco(Ico::Write(entries));
    if (!read || read->size() != 2 || !(*read)[0].png || (*read)[0].bytes != entries[0].png) Fail("ICO: unreadable");
    if ((*read)[1].bytes != square.bgra) Fail("ICO: bitmap differs");
}

// The palette: the first `colours` values of the picture itself, so that
// exact hits, near misses and ties all occur.
void CheckDither(Image image, const std::vector<uint32_t>& values, uint32_t colours) {
    // The model tries every colour for every pixel: a few rows keep it quick.
    image.height = std::min(image.height, std::max(1u, 2048u / image.width));
    image.bgra.resize(image.Stride() * image.height);
    std::vector<uint32_t> palette;
    for (uint32_t i = 0; i < colours; ++i) palette.push_back(values[(i * 7919u) % values.size()] & 0xFFFFFF);
    const IndexedImage indexed = Dither::ToPalette(image, palette);
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < image.bgra.size(); i += 4)
        rgb.insert(rgb.end(), {image.bgra[i + 2], image.bgra[i + 1], image.bgra[i]});
    if (indexed.indices != Model::Dither(rgb, image.width, image.height, palette)) Fail("dither differs from the model");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint32_t width = 1 + (uint32_t{data[1]} << 8 | data[2]) % 600;
    const std::vector<uint32_t> values = Values(data + 4, size - 4, 12000);
    const Image image = Picture(width, values);
    switch (data[0] % 5) {
    case 0: CheckPcx(image); break;
    case 1: CheckRle8(image, 1u + data[3]); break;
    case 2: CheckWbmp(image); break;
    case 3: CheckDither(image, values, 1u + data[3]); break;
    default: if (image.width <= Ico::MaxSide && image.height <= Ico::MaxSide) CheckIco(image, 1u + data[3]); break;
    }
    return 0;
}
