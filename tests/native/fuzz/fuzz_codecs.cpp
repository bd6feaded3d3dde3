// The JPEG reader on any bytes, and the PNG and JPEG writers on pictures
// shaped by the input, the PNG files read back by libpng and compared with
// the picture. Byte 0 picks the case; for the reader, byte 1 the box it
// reduces into; for the writers, bytes 1-2 the width (1 to 300) and the
// rest (repeat, value) pairs that make the pixels, so that flat runs, few
// colours, grey and transparency all occur.
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "converter/base/Geometry.h"
#include "converter/readers/Jpeg.h"
#include "converter/writers/Jpeg.h"
#include "converter/writers/Png.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {

void CheckJpegReader(const uint8_t* data, size_t size) {
    ReadRequest request;
    request.maxPixels = 1u << 22;
    const uint32_t side = data[0];
    if (side > 4) request.box = {side, side};
    Decoded decoded;
    const ReadResult result = Jpeg::Read(data + 1, size - 1, request, decoded);
    if (!result.Ok()) {
        if (decoded.image.Valid()) Fail("JPEG: pixels left behind a failure");
        return;
    }
    if (!decoded.image.Valid()) Fail("JPEG: Ok without a picture");
    if (decoded.orientation < 1 || decoded.orientation > 8) Fail("JPEG: orientation out of range");
    // Reduced while decoding: it must say so, and still cover the fit of
    // its stored size, so that the result comes out exactly that size.
    if (decoded.full.width != 0) {
        const PixelSize fit = Geometry::FitInside(decoded.full, request.box, false);
        const bool sideways = decoded.orientation >= 5;
        const PixelSize have = sideways ? PixelSize{decoded.image.height, decoded.image.width}
                                        : PixelSize{decoded.image.width, decoded.image.height};
        const PixelSize want = sideways ? Geometry::FitInside({decoded.full.height, decoded.full.width}, request.box, false)
                                        : fit;
        if (have.width < want.width || have.height < want.height) Fail("JPEG: reduced below the fit");
    } else if (request.box.width != 0 && Jpeg::Reduction({decoded.image.width, decoded.image.height},
                                                         decoded.orientation, request) > 1) {
        Fail("JPEG: reducible, yet not reduced or not said");
    }
    for (size_t i = 3; i < decoded.image.bgra.size(); i += 4)
        if (decoded.image.bgra[i] != 255) Fail("JPEG: a pixel not opaque");
    // Whatever was read can be written again.
    if (Jpeg::Write(decoded.image, 75).empty()) Fail("JPEG: the reader's picture not writable");
}

Image Picture(uint32_t width, const uint8_t* data, size_t size) {
    std::vector<uint32_t> values;
    for (size_t i = 0; i + 4 < size && values.size() < 9000; i += 5) {
        const uint32_t value = uint32_t{data[i + 1]} | uint32_t{data[i + 2]} << 8 | uint32_t{data[i + 3]} << 16 |
                               uint32_t{data[i + 4]} << 24;
        values.insert(values.end(), std::min<size_t>(data[i] + 1u, 9000 - values.size()), value);
    }
    if (values.empty()) values.push_back(0xFF000000u);
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

// libpng's reading of the file, as straight BGRA, must be the picture.
void CheckPng(const Image& image, bool alwaysRgba, int level) {
    Png::Options options;
    options.alwaysRgba = alwaysRgba;
    options.level = level;
    options.chunks.push_back({{'t', 'E', 'X', 't'}, {'a', 0, 'b'}});
    const std::vector<uint8_t> file = Png::Write(image, options);
    if (file.empty()) Fail("PNG: nothing written");
    png_image read = {};
    read.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&read, file.data(), file.size())) Fail("PNG: libpng refuses the file");
    if (read.width != image.width || read.height != image.height) Fail("PNG: size differs");
    if (alwaysRgba && read.format != PNG_FORMAT_RGBA) Fail("PNG: not RGBA");
    read.format = PNG_FORMAT_BGRA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(read));
    if (!png_image_finish_read(&read, nullptr, pixels.data(), 0, nullptr)) Fail("PNG: libpng cannot decode it");
    // libpng hands transparent pixels over with their colour as stored.
    if (pixels != image.bgra) Fail("PNG: pixels differ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const uint8_t which = data[0] % 4;
    if (which == 0) {
        CheckJpegReader(data + 1, size - 1);
        return 0;
    }
    const uint32_t width = 1 + (uint32_t{data[1]} << 8 | data[2]) % 300;
    const Image image = Picture(width, data + 3, size - 3);
    if (which == 3) {
        if (Jpeg::Write(image, 1 + data[3] % 100).empty()) Fail("JPEG: nothing written");
        return 0;
    }
    CheckPng(image, which == 2, 1 + data[3] % 12);
    return 0;
}
