// The PCX, RLE bitmap, WBMP and icon writers: each file read back by the
// strict readers of model/FormatReaders.h and by the host's ImageMagick, at
// the sizes and runs where the formats have their limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "converter/writers/Dither.h"
#include "converter/writers/Ico.h"
#include "converter/writers/Pcx.h"
#include "converter/writers/Rle8.h"
#include "converter/writers/Wbmp.h"
#include "model/DitherModel.h"
#include "model/FormatReaders.h"
#include "model/HostTools.h"

namespace {

using HostTools::Output;
using HostTools::TempFile;

// Gradients, flat stretches of every length up to 300 (runs that end on and
// around each format's limits) and noise, so every encoder path is taken.
Image Picture(uint32_t width, uint32_t height, uint32_t seed = 1) {
    Image image;
    image.width = width;
    image.height = height;
    image.bgra.resize(size_t{width} * height * 4);
    uint32_t state = seed * 2654435761u + 1;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = image.Row(y);
        uint32_t x = 0;
        uint32_t stretch = (y * 37 + seed) % 301;
        while (x < width) {
            state = state * 1664525u + 1013904223u;
            const uint32_t kind = (state >> 24) % 3;
            const uint32_t count = std::min(width - x, kind == 0 ? stretch + 1 : (state >> 8) % 9 + 1);
            for (uint32_t i = 0; i < count; ++i, ++x) {
                uint8_t* p = row + x * 4;
                if (kind == 0) {
                    p[0] = 0xC7;  // above 0xC0: PCX must escape single ones
                    p[1] = static_cast<uint8_t>(y);
                    p[2] = 0xFF;
                } else if (kind == 1) {
                    p[0] = static_cast<uint8_t>(x);
                    p[1] = static_cast<uint8_t>(x + y);
                    p[2] = static_cast<uint8_t>(y * 3);
                } else {
                    state = state * 1664525u + 1013904223u;
                    p[0] = static_cast<uint8_t>(state >> 8);
                    p[1] = static_cast<uint8_t>(state >> 16);
                    p[2] = static_cast<uint8_t>(state >> 24);
                }
                p[3] = 0xFF;
            }
            stretch = (stretch * 7 + 13) % 301;
        }
    }
    return image;
}

uint32_t RgbAt(const Image& image, size_t i) {
    const uint8_t* p = image.bgra.data() + i * 4;
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// Debian's ImageMagick policy stops at 16000 pixels a side: larger files are
// read by the strict readers alone.
bool ImageMagickTakes(uint32_t width, uint32_t height) { return width <= 16000 && height <= 16000; }

std::vector<uint8_t> ImageMagickRaw(const std::vector<uint8_t>& file, const std::string& coder,
                                    const std::string& map) {
    TempFile temp(file, "." + coder);
    auto raw = Output("convert " + coder + ":" + temp.Path() + " -depth 8 " + map + ":-");
    EXPECT_TRUE(raw.has_value()) << "ImageMagick could not read the " << coder << " file";
    return raw.value_or(std::vector<uint8_t>());
}

// ---------------------------------------------------------------------------

TEST(PcxWriter, ReadsBackExactlyAtEverySize) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const std::vector<std::pair<uint32_t, uint32_t>> sizes = {
        {1, 1}, {2, 1}, {3, 5}, {63, 2}, {64, 1}, {127, 3}, {301, 7}, {1, 65535}, {Pcx::MaxWidth, 1}};
    for (auto [width, height] : sizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const Image image = Picture(width, height, width + height);
        const std::vector<uint8_t> file = Pcx::Write(image);
        const auto read = Readers::ReadPcx(file);
        ASSERT_TRUE(read.has_value());
        ASSERT_EQ(read->width, width);
        ASSERT_EQ(read->height, height);
        for (size_t i = 0; i < read->pixels.size(); ++i) ASSERT_EQ(read->pixels[i], RgbAt(image, i)) << "pixel " << i;
        if (!ImageMagickTakes(width, height)) continue;

        const std::vector<uint8_t> raw = ImageMagickRaw(file, "pcx", "rgb");
        ASSERT_EQ(raw.size(), size_t{width} * height * 3);
        for (size_t i = 0; i < size_t{width} * height; ++i)
            ASSERT_EQ(uint32_t{raw[i * 3]} << 16 | uint32_t{raw[i * 3 + 1]} << 8 | raw[i * 3 + 2], RgbAt(image, i))
                << "ImageMagick, pixel " << i;
    }
}

TEST(PcxWriter, RefusesWhatTheHeaderCannotHold) {
    EXPECT_TRUE(Pcx::Write(Picture(Pcx::MaxWidth + 1, 1)).empty());
    EXPECT_TRUE(Pcx::Write(Picture(1, Pcx::MaxHeight + 1)).empty());
    Image broken = Picture(4, 4);
    broken.bgra.pop_back();
    EXPECT_TRUE(Pcx::Write(broken).empty());
    EXPECT_TRUE(Pcx::Write(Image{}).empty());
}

// ---------------------------------------------------------------------------

IndexedImage Indexed(uint32_t width, uint32_t height, uint32_t colours, uint32_t seed) {
    IndexedImage image;
    image.width = width;
    image.height = height;
    for (uint32_t i = 0; i < colours; ++i) image.palette.push_back((i * 0x9E3779B1u + seed) & 0xFFFFFF);
    const Image picture = Picture(width, height, seed);
    image.indices.resize(size_t{width} * height);
    // Runs and stretches of the picture carried over to the indices.
    for (size_t i = 0; i < image.indices.size(); ++i)
        image.indices[i] = static_cast<uint8_t>((RgbAt(picture, i) * 2654435761u >> 13) % colours);
    return image;
}

void ExpectRle8ReadsBack(const IndexedImage& image, bool withImageMagick) {
    const std::vector<uint8_t> file = Rle8::Write(image);
    const auto read = Readers::ReadRle8Bmp(file);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->width, image.width);
    ASSERT_EQ(read->height, image.height);
    ASSERT_EQ(read->palette, image.palette);
    ASSERT_EQ(read->indices, image.indices);
    if (!withImageMagick || !ImageMagickTakes(image.width, image.height)) return;
    const std::vector<uint8_t> raw = ImageMagickRaw(file, "bmp", "rgb");
    ASSERT_EQ(raw.size(), image.indices.size() * 3);
    for (size_t i = 0; i < image.indices.size(); ++i)
        ASSERT_EQ(uint32_t{raw[i * 3]} << 16 | uint32_t{raw[i * 3 + 1]} << 8 | raw[i * 3 + 2],
                  image.palette[image.indices[i]])
            << "ImageMagick, pixel " << i;
}

TEST(Rle8Writer, ReadsBackExactlyWithPalettesOfOneTo256Colours) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    for (uint32_t colours : {1u, 2u, 3u, 16u, 255u, 256u}) {
        for (auto [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {2, 3}, {3, 2}, {97, 31}, {16000, 2}}) {
            SCOPED_TRACE(std::to_string(colours) + " colours, " + std::to_string(width) + "x" + std::to_string(height));
            ExpectRle8ReadsBack(Indexed(width, height, colours, width * colours), true);
        }
    }
    SCOPED_TRACE("1x65535 and 65535x1");
    ExpectRle8ReadsBack(Indexed(1, 65535, 256, 5), true);
    ExpectRle8ReadsBack(Indexed(65535, 1, 7, 5), true);
}

TEST(Rle8Writer, RunsAndStretchesAtTheirLimits) {
    // Equal runs of 254 to 257 and 510, 511; differing stretches of 1 to 4,
    // 255 and 256 (the absolute mode's limit, odd and even lengths).
    for (uint32_t length : {1u, 2u, 3u, 4u, 254u, 255u, 256u, 257u, 510u, 511u}) {
        for (bool equal : {true, false}) {
            IndexedImage image;
            image.width = length + 3;
            image.height = 2;
            image.palette = {0x000000, 0xFFFFFF, 0x123456};
            for (uint32_t y = 0; y < 2; ++y)
                for (uint32_t x = 0; x < image.width; ++x)
                    image.indices.push_back(static_cast<uint8_t>(x < length ? (equal ? 2 : (x + y) % 2) : 1));
            SCOPED_TRACE(std::to_string(length) + (equal ? " equal" : " differing"));
            ExpectRle8ReadsBack(image, false);
            const std::vector<uint8_t> rows = Rle8::CompressRows(image);
            if (equal) EXPECT_LE(rows.size(), 2 * (2 * (length / 255 + 2) + 2) + 2) << "runs are not used";
        }
    }
}

TEST(Rle8Writer, RefusesPicturesThatBreakItsRules) {
    IndexedImage image = Indexed(5, 5, 4, 1);
    image.indices[7] = 4;  // beyond the palette
    EXPECT_TRUE(Rle8::Write(image).empty());
    image = Indexed(5, 5, 4, 1);
    image.palette.clear();
    EXPECT_TRUE(Rle8::Write(image).empty());
    image = Indexed(5, 5, 4, 1);
    image.palette.resize(257);
    EXPECT_TRUE(Rle8::Write(image).empty());
    image = Indexed(5, 5, 4, 1);
    image.indices.pop_back();
    EXPECT_TRUE(Rle8::Write(image).empty());
}

// ---------------------------------------------------------------------------

Image Flat(uint32_t width, uint32_t height, uint8_t b, uint8_t g, uint8_t r) {
    Image image;
    image.width = width;
    image.height = height;
    for (size_t i = 0; i < size_t{width} * height; ++i) image.bgra.insert(image.bgra.end(), {b, g, r, 0xFF});
    return image;
}

std::vector<uint8_t> Rgb(const Image& image) {
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < image.bgra.size(); i += 4)
        rgb.insert(rgb.end(), {image.bgra[i + 2], image.bgra[i + 1], image.bgra[i]});
    return rgb;
}

TEST(Dither, ChoosesWhatTheExhaustiveSearchChooses) {
    uint32_t state = 7;
    auto next = [&state]() { return state = state * 1664525u + 1013904223u; };
    for (size_t colours : {1, 2, 3, 16, 255, 256}) {
        std::vector<uint32_t> palette;
        for (size_t i = 0; i < colours; ++i) palette.push_back(next() >> 8);
        if (colours > 2) palette[colours - 1] = palette[1];  // a tie: the lower index wins
        for (auto [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {1, 40}, {40, 1}, {97, 31}}) {
            SCOPED_TRACE(std::to_string(colours) + " colours, " + std::to_string(width) + "x" + std::to_string(height));
            const Image image = Picture(width, height, static_cast<uint32_t>(colours));
            const IndexedImage indexed = Dither::ToPalette(image, palette);
            ASSERT_EQ(indexed.palette, palette);
            ASSERT_EQ(indexed.indices, Model::Dither(Rgb(image), width, height, palette));
        }
    }
    EXPECT_TRUE(Dither::ToPalette(Picture(4, 4), {}).indices.empty());
    EXPECT_TRUE(Dither::ToPalette(Picture(4, 4), std::vector<uint32_t>(257)).indices.empty());
}

TEST(Dither, KeepsPaletteColoursAndMixesTheOthers) {
    // A picture of palette colours only carries no error: every pixel keeps
    // its colour.
    const std::vector<uint32_t> palette = {0x000000, 0xFFFFFF, 0xFF0000, 0x0000FF, 0x808080};
    Image exact = Flat(33, 9, 0, 0, 0);
    for (size_t i = 0; i < size_t{33} * 9; ++i) {
        const uint32_t c = palette[(i * 7 + i / 33) % palette.size()];
        exact.bgra[i * 4] = static_cast<uint8_t>(c);
        exact.bgra[i * 4 + 1] = static_cast<uint8_t>(c >> 8);
        exact.bgra[i * 4 + 2] = static_cast<uint8_t>(c >> 16);
    }
    const IndexedImage kept = Dither::ToPalette(exact, palette);
    for (size_t i = 0; i < kept.indices.size(); ++i) ASSERT_EQ(palette[kept.indices[i]], RgbAt(exact, i)) << i;
    // A colour between two entries becomes a mixture of them with its mean.
    const IndexedImage mixed = Dither::ToPalette(Flat(64, 64, 0x40, 0x40, 0x40), {0x000000, 0xFFFFFF});
    const double white = std::count(mixed.indices.begin(), mixed.indices.end(), 1) / double(mixed.indices.size());
    EXPECT_NEAR(white, 0x40 / 255.0, 0.01);
}

// ---------------------------------------------------------------------------

TEST(WbmpWriter, HoldsTheThresholdedPixelsAndImageMagickReadsThem) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    for (auto [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{
             {1, 1}, {7, 3}, {8, 2}, {9, 9}, {130, 17}, {1, 65535}, {65535, 1}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const Image image = Picture(width, height, width);
        const std::vector<uint8_t> file = Wbmp::Write(image);
        const auto read = Readers::ReadWbmp(file);
        ASSERT_TRUE(read.has_value());
        ASSERT_EQ(read->width, width);
        ASSERT_EQ(read->height, height);
        ASSERT_EQ(read->bits, Wbmp::Threshold(image));
        if (!ImageMagickTakes(width, height)) continue;
        const std::vector<uint8_t> grey = ImageMagickRaw(file, "wbmp", "gray");
        ASSERT_EQ(grey.size(), read->bits.size());
        for (size_t i = 0; i < grey.size(); ++i) ASSERT_EQ(grey[i], read->bits[i] ? 255 : 0) << "pixel " << i;
    }
    EXPECT_EQ(Wbmp::Threshold(Flat(1, 1, 0, 0, 0)), std::vector<uint8_t>{0});
    EXPECT_EQ(Wbmp::Threshold(Flat(1, 1, 255, 255, 255)), std::vector<uint8_t>{1});
}

// Error diffusion keeps the brightness of every area: the share of white
// pixels in each 16 x 16 block follows the block's mean grey.
TEST(WbmpWriter, DiffusionKeepsTheBrightnessOfEveryArea) {
    for (int level : {0, 1, 30, 64, 128, 200, 254, 255}) {
        const Image flat = Flat(64, 64, static_cast<uint8_t>(level), static_cast<uint8_t>(level),
                                static_cast<uint8_t>(level));
        const std::vector<uint8_t> bits = Wbmp::Threshold(flat);
        const double white = std::count(bits.begin(), bits.end(), 1) / double(bits.size());
        EXPECT_NEAR(white, level / 255.0, 0.01) << "flat grey " << level;
    }
    // A horizontal ramp: each block's share of white against its mean grey.
    Image ramp = Flat(256, 64, 0, 0, 0);
    for (uint32_t y = 0; y < ramp.height; ++y)
        for (uint32_t x = 0; x < ramp.width; ++x) std::fill_n(ramp.Row(y) + x * 4, 3, static_cast<uint8_t>(x));
    const std::vector<uint8_t> bits = Wbmp::Threshold(ramp);
    for (uint32_t bx = 0; bx < 16; ++bx) {
        for (uint32_t by = 0; by < 4; ++by) {
            double white = 0, grey = 0;
            for (uint32_t y = by * 16; y < by * 16 + 16; ++y)
                for (uint32_t x = bx * 16; x < bx * 16 + 16; ++x) {
                    white += bits[y * 256 + x];
                    grey += Wbmp::Grey(ramp.Row(y) + x * 4) / 255.0;
                }
            EXPECT_NEAR(white / 256, grey / 256, 0.06) << "block " << bx << "," << by;
        }
    }
}

// ---------------------------------------------------------------------------

Image Transparent(uint32_t width, uint32_t height, uint32_t seed) {
    Image image = Picture(width, height, seed);
    for (size_t i = 0; i < size_t{width} * height; ++i) image.bgra[i * 4 + 3] = static_cast<uint8_t>(i * 7 % 5 * 60);
    return image;
}

TEST(IcoWriter, PngAndBitmapImagesReadBackAndImageMagickSeesEverySize) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    // The large image as a PNG stream made by ImageMagick from straight RGBA.
    const Image large = Transparent(256, 256, 3);
    std::vector<uint8_t> rgba(large.bgra);
    for (size_t i = 0; i < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]);
    TempFile raw(rgba, ".rgba");
    const auto png = Output("convert -size 256x256 -depth 8 rgba:" + raw.Path() + " png:-");
    ASSERT_TRUE(png.has_value());

    std::vector<Ico::Entry> entries(1);
    entries[0].width = entries[0].height = 256;
    entries[0].png = *png;
    for (uint32_t side : {48u, 32u, 16u, 1u, 33u}) {
        Ico::Entry entry;
        entry.width = entry.height = side;
        entry.bitmap = Transparent(side, side, side);
        entries.push_back(entry);
    }
    const std::vector<uint8_t> file = Ico::Write(entries);
    const auto read = Readers::ReadIco(file);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), entries.size());
    EXPECT_TRUE((*read)[0].png);
    EXPECT_EQ((*read)[0].bytes, *png);
    for (size_t i = 1; i < entries.size(); ++i) {
        EXPECT_FALSE((*read)[i].png);
        EXPECT_EQ((*read)[i].bytes, entries[i].bitmap.bgra) << "image " << i;
    }

    TempFile ico(file, ".ico");
    const auto sizes = Output("identify -format '%wx%h,' " + ico.Path());
    ASSERT_TRUE(sizes.has_value());
    EXPECT_EQ(std::string(sizes->begin(), sizes->end()), "256x256,48x48,32x32,16x16,1x1,33x33,");
    for (size_t i = 0; i < entries.size(); ++i) {
        const Image& want = i == 0 ? large : entries[i].bitmap;
        const auto got = Output("convert 'ico:" + ico.Path() + "[" + std::to_string(i) + "]' -depth 8 rgba:-");
        ASSERT_TRUE(got.has_value());
        ASSERT_EQ(got->size(), want.bgra.size());
        for (size_t p = 0; p < got->size(); p += 4) {
            ASSERT_EQ((*got)[p + 3], want.bgra[p + 3]) << "image " << i << ", alpha of pixel " << p / 4;
            if (want.bgra[p + 3] == 0) continue;  // colour of a clear pixel is free
            ASSERT_EQ((*got)[p], want.bgra[p + 2]) << "image " << i << ", pixel " << p / 4;
            ASSERT_EQ((*got)[p + 1], want.bgra[p + 1]) << "image " << i << ", pixel " << p / 4;
            ASSERT_EQ((*got)[p + 2], want.bgra[p]) << "image " << i << ", pixel " << p / 4;
        }
    }
}

TEST(IcoWriter, FitsPicturesIntoTheSquareWithTransparentMargins) {
    uint32_t w = 0, h = 0;
    Ico::FitInto(400, 100, 256, w, h);
    EXPECT_EQ(w, 256u);
    EXPECT_EQ(h, 64u);
    Ico::FitInto(1, 65535, 48, w, h);
    EXPECT_EQ(w, 1u);  // never below one pixel
    EXPECT_EQ(h, 48u);
    Ico::FitInto(3, 2, 16, w, h);
    EXPECT_EQ(w, 16u);
    EXPECT_EQ(h, 11u);  // 10.67 rounded

    const Image fitted = Picture(5, 2, 9);
    const Image square = Ico::OnSquare(fitted, 8);
    ASSERT_TRUE(square.Valid());
    ASSERT_EQ(square.width, 8u);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            const bool inside = x >= 1 && x < 6 && y >= 3 && y < 5;  // margins 1|2 and 3|3
            const uint8_t* p = square.Row(y) + x * 4;
            if (inside)
                EXPECT_TRUE(std::equal(p, p + 4, fitted.Row(y - 3) + (x - 1) * 4)) << x << "," << y;
            else
                EXPECT_EQ(p[3], 0) << "margin pixel " << x << "," << y << " is not transparent";
        }
}

TEST(IcoWriter, RefusesImagesItCannotHold) {
    Ico::Entry entry;
    entry.width = entry.height = 257;
    entry.png = {1, 2, 3};
    EXPECT_TRUE(Ico::Write({entry}).empty());
    entry.width = entry.height = 16;
    entry.png.clear();
    entry.bitmap = Picture(16, 15);
    EXPECT_TRUE(Ico::Write({entry}).empty());
    EXPECT_TRUE(Ico::Write({}).empty());
}

}  // namespace
