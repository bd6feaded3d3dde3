// The readers of TGA, Netpbm, PCX, WBMP, Dr. Halo CUT and Alias PIX: each
// file, made by the host's ImageMagick or (where nothing writes the variant)
// byte by byte from the format's documented layout, is read by our reader and
// by ImageMagick, and the two pictures must agree pixel for pixel. Every file
// cut short must then be refused, and a pixel cap below its size must hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "converter/readers/AliasPix.h"
#include "converter/readers/HaloCut.h"
#include "converter/readers/Netpbm.h"
#include "converter/readers/Pcx.h"
#include "converter/readers/Tga.h"
#include "converter/readers/Wbmp.h"
#include "converter/writers/Pcx.h"
#include "model/HostTools.h"

namespace {

using HostTools::Output;
using HostTools::TempFile;

using Bytes = std::vector<uint8_t>;

// The pictures the files are made from: ImageMagick's built-in rose (70x46,
// many colours), the same with a sideways alpha ramp, and one wider than 127
// pixels so that WBMP needs two bytes for its width.
const char* const kRose = "rose:";
const char* const kRoseAlpha = "rose: -alpha set -channel A -fx i/w +channel";
const char* const kWide = "rose: -resize 203x61!";

Bytes Magick(const std::string& recipe, const std::string& coder) {
    auto bytes = Output("convert " + recipe + " " + coder + ":-");
    EXPECT_TRUE(bytes.has_value()) << "ImageMagick could not make " << recipe << " as " << coder;
    return bytes.value_or(Bytes());
}

// ImageMagick's own reading of the file, as R, G, B, A bytes. ImageMagick 6
// hands a TGA's rows over in stored order and names its corner in the
// orientation tag, which -auto-orient applies; its PIX reader fails at the
// end of the file while looking for a second picture unless told to take
// the first ([0]).
Bytes MagickRgba(const Bytes& file, const std::string& coder, const Bytes* palette = nullptr) {
    TempFile temp(file, "." + coder);
    // Beside the picture, under its name: where ImageMagick looks for it.
    const std::string palettePath = temp.Path().substr(0, temp.Path().size() - coder.size()) + "pal";
    if (palette)
        std::ofstream(palettePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(palette->data()), static_cast<std::streamsize>(palette->size()));
    const std::string input = coder + ":" + temp.Path() + (coder == "pix" ? "[0]" : "");
    auto rgba = Output("convert '" + input + "'" + (coder == "tga" ? " -auto-orient" : "") + " -depth 8 rgba:-");
    if (palette) std::remove(palettePath.c_str());
    EXPECT_TRUE(rgba.has_value()) << "ImageMagick could not read the " << coder << " file";
    return rgba.value_or(Bytes());
}

using Reader = std::function<ReadResult(const uint8_t*, size_t, const ReadRequest&, Decoded&)>;

// Reads `file` and compares it with `rgba` pixel for pixel; says where and
// how the first difference lies.
void ExpectSame(const Reader& read, const Bytes& file, const Bytes& rgba, const std::string& what) {
    Decoded decoded;
    const ReadResult result = read(file.data(), file.size(), ReadRequest{}, decoded);
    ASSERT_TRUE(result.Ok()) << what << ": status " << static_cast<int>(result.status);
    const Image& image = decoded.image;
    ASSERT_TRUE(image.Valid()) << what;
    ASSERT_EQ(size_t{image.width} * image.height * 4, rgba.size()) << what << ": size " << image.width << "x"
                                                                    << image.height;
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const uint8_t* p = image.bgra.data() + i;
        if (p[2] != rgba[i] || p[1] != rgba[i + 1] || p[0] != rgba[i + 2] || p[3] != rgba[i + 3]) {
            if (differing++ == 0) first = i;
        }
    }
    EXPECT_EQ(differing, 0u) << what << ": first at pixel " << first / 4 << " (" << (first / 4) % image.width
                             << ", " << (first / 4) / image.width << "): ours BGRA "
                             << int(image.bgra[first]) << "," << int(image.bgra[first + 1]) << ","
                             << int(image.bgra[first + 2]) << "," << int(image.bgra[first + 3])
                             << " ImageMagick RGBA " << int(rgba[first]) << "," << int(rgba[first + 1]) << ","
                             << int(rgba[first + 2]) << "," << int(rgba[first + 3]);
}

// A cut-short file is refused (never read past its end: the sanitizers
// watch), and a cap below the picture's size is kept before any allocation.
// Cut in half, a PCX loses only its palette if its pixels pack well: that
// one is still a picture (grey).
void ExpectRefusals(const Reader& read, const Bytes& file, const std::string& what, bool half = true) {
    for (size_t cut : {size_t{0}, size_t{1}, size_t{5}, size_t{40}, half ? file.size() / 2 : 0}) {
        if (cut >= file.size()) continue;
        const Bytes shortFile(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        Decoded decoded;
        const ReadResult result = read(shortFile.data(), shortFile.size(), ReadRequest{}, decoded);
        EXPECT_FALSE(result.Ok()) << what << " cut to " << cut << " bytes";
    }
    Decoded decoded;
    ReadRequest small;
    small.maxPixels = 100;
    EXPECT_EQ(read(file.data(), file.size(), small, decoded).status, ReadStatus::TooLarge) << what;
    EXPECT_TRUE(decoded.image.bgra.empty()) << what;
}

struct MadeByMagick {
    const char* what;
    Reader read;
    const char* recipe;
    const char* options;
    const char* coder;
};

// The byte layout of an uncompressed TGA: rows of `pixelBytes` after the
// header, ID and colour map.
struct TgaRaster {
    size_t offset;
    uint32_t width, height, pixelBytes;
};

TgaRaster RasterOf(const Bytes& tga) {
    const size_t map = (tga[5] | tga[6] << 8) * size_t((tga[7] + 7) / 8);
    return {18 + tga[0] + (tga[1] ? map : 0), uint32_t(tga[12] | tga[13] << 8), uint32_t(tga[14] | tga[15] << 8),
            uint32_t((tga[16] + 7) / 8)};
}

// The same uncompressed TGA stored from another corner: rows and columns
// reordered and the descriptor's origin bits set to match.
Bytes TgaFromCorner(Bytes tga, bool topDown, bool rightToLeft) {
    const TgaRaster r = RasterOf(tga);
    const Bytes original = tga;
    const bool wasTopDown = tga[17] & 0x20;
    for (uint32_t row = 0; row < r.height; ++row) {
        for (uint32_t column = 0; column < r.width; ++column) {
            // Row `row` of the new file shows picture line y; picture line y
            // sat at stored row `from` of the original.
            const uint32_t y = topDown ? row : r.height - 1 - row;
            const uint32_t from = wasTopDown ? y : r.height - 1 - y;
            const uint32_t x = rightToLeft ? r.width - 1 - column : column;
            std::copy_n(original.begin() + r.offset + (size_t{from} * r.width + x) * r.pixelBytes, r.pixelBytes,
                        tga.begin() + r.offset + (size_t{row} * r.width + column) * r.pixelBytes);
        }
    }
    tga[17] = static_cast<uint8_t>((tga[17] & 0xCF) | (topDown ? 0x20 : 0) | (rightToLeft ? 0x10 : 0));
    return tga;
}

// A 24-bit raw TGA of ImageMagick's made into 16 bits a pixel (5 bits a
// colour, the top bit alpha where `alphaBit`), optionally run-length encoded
// with runs of every length and raw packets between them.
Bytes TgaSixteen(const Bytes& tga24, bool alphaBit, bool rle) {
    const TgaRaster r = RasterOf(tga24);
    Bytes out(tga24.begin(), tga24.begin() + 18);
    out[0] = 0;
    out[1] = 0;
    std::fill(out.begin() + 3, out.begin() + 8, 0);
    out[2] = rle ? 10 : 2;
    out[16] = 16;
    out[17] = static_cast<uint8_t>((tga24[17] & 0x30) | (alphaBit ? 1 : 0));
    std::vector<uint16_t> values;
    for (size_t i = 0; i < size_t{r.width} * r.height; ++i) {
        const uint8_t* p = tga24.data() + r.offset + i * 3;
        // Runs: every 8th line is flat, so repeat packets occur.
        const size_t at = ((i / r.width) % 8 == 0) ? (i / r.width) * r.width * 3 : i * 3;
        p = tga24.data() + r.offset + at;
        values.push_back(static_cast<uint16_t>((p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3) |
                                               ((alphaBit && (i % 3)) ? 0x8000 : 0)));
    }
    size_t i = 0;
    while (i < values.size()) {
        if (!rle) {
            out.push_back(values[i] & 0xFF);
            out.push_back(values[i] >> 8);
            ++i;
            continue;
        }
        size_t run = 1;
        while (i + run < values.size() && run < 128 && values[i + run] == values[i]) ++run;
        if (run > 1) {
            out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
            out.push_back(values[i] & 0xFF);
            out.push_back(values[i] >> 8);
            i += run;
        } else {
            size_t raw = 1;
            while (i + raw < values.size() && raw < 128 && values[i + raw] != values[i + raw - 1]) ++raw;
            out.push_back(static_cast<uint8_t>(raw - 1));
            for (size_t k = 0; k < raw; ++k) {
                out.push_back(values[i + k] & 0xFF);
                out.push_back(values[i + k] >> 8);
            }
            i += raw;
        }
    }
    return out;
}

// Rose's pixels as ImageMagick gives them, R, G, B.
Bytes RoseRgb(uint32_t& width, uint32_t& height) {
    width = 70;
    height = 46;
    return Output("convert rose: -depth 8 rgb:-").value_or(Bytes());
}

// A file made here and the picture it was made from, as R, G, B, A bytes.
struct Made {
    Bytes file;
    Bytes rgba;
};

// A PCX of 1 bit in `planes` planes (1: black and white, 4: 16 colours from
// the header's palette), or of 2 or 4 bits in one plane, run-length encoded:
// the rose reduced to as many colours, indices made here.
Made PcxLowBits(uint32_t bits, uint32_t planes) {
    uint32_t w, h;
    const Bytes rgb = RoseRgb(w, h);
    const uint32_t colours = 1u << (bits * planes);
    Bytes file(128, 0);
    file[0] = 0x0A;
    file[1] = 5;
    file[2] = 1;
    file[3] = static_cast<uint8_t>(bits);
    file[8] = static_cast<uint8_t>(w - 1);
    file[10] = static_cast<uint8_t>(h - 1);
    file[12] = file[14] = 75;
    const uint32_t bytesPerLine = ((w * bits + 7) / 8 + 1) & ~1u;
    if (colours > 2) {
        for (uint32_t i = 0; i < 16; ++i) {
            file[16 + i * 3] = static_cast<uint8_t>(i * 17);
            file[17 + i * 3] = static_cast<uint8_t>(255 - i * 13);
            file[18 + i * 3] = static_cast<uint8_t>((i * 97) & 0xFF);
        }
    }
    file[65] = static_cast<uint8_t>(planes);
    file[66] = static_cast<uint8_t>(bytesPerLine);
    file[68] = 1;
    Bytes rgba;
    for (uint32_t y = 0; y < h; ++y) {
        Bytes line(size_t{bytesPerLine} * planes, 0);
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* p = rgb.data() + (size_t{y} * w + x) * 3;
            const uint32_t index = ((p[0] + p[1] * 2 + p[2]) * colours / 1024) % colours;
            if (colours == 2) {
                // Black and white: 0 black, 1 white; the header's colours are not used.
                rgba.insert(rgba.end(), 3, static_cast<uint8_t>(index ? 255 : 0));
            } else {
                rgba.insert(rgba.end(), file.begin() + 16 + index * 3, file.begin() + 19 + index * 3);
            }
            rgba.push_back(255);
            if (planes == 1) {
                const uint32_t bit = x * bits;
                line[bit / 8] |= static_cast<uint8_t>(index << (8 - bits - bit % 8));
            } else {
                for (uint32_t plane = 0; plane < planes; ++plane)
                    if (index >> plane & 1) line[plane * bytesPerLine + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
        for (uint8_t value : line) {
            file.push_back(0xC1);
            file.push_back(value);
        }
    }
    return {file, rgba};
}

// A Dr. Halo CUT of the rose's grey values, 8 bits, with runs and literal
// stretches, each line closed by its end mark; and a palette file with
// 6-bit values (maximum 63) in 512-byte blocks.
Bytes HaloCutFile(uint32_t& w, uint32_t& h, uint32_t shades) {
    const Bytes rgb = RoseRgb(w, h);
    Bytes file = {static_cast<uint8_t>(w), 0, static_cast<uint8_t>(h), 0, 0, 0};
    for (uint32_t y = 0; y < h; ++y) {
        Bytes line;
        std::vector<uint8_t> indices;
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* p = rgb.data() + (size_t{y} * w + (y % 5 == 0 ? 0 : x)) * 3;
            indices.push_back(static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3 * shades / 256));
        }
        size_t x = 0;
        while (x < indices.size()) {
            size_t run = 1;
            while (x + run < indices.size() && run < 127 && indices[x + run] == indices[x]) ++run;
            if (run > 2) {
                line.push_back(static_cast<uint8_t>(0x80 | run));
                line.push_back(indices[x]);
            } else {
                const size_t literal = std::min<size_t>(std::min<size_t>(indices.size() - x, 127), 5);
                line.push_back(static_cast<uint8_t>(literal));
                line.insert(line.end(), indices.begin() + x, indices.begin() + x + literal);
                run = literal;
            }
            x += run;
        }
        line.push_back(0);
        file.push_back(static_cast<uint8_t>(line.size()));
        file.push_back(static_cast<uint8_t>(line.size() >> 8));
        file.insert(file.end(), line.begin(), line.end());
    }
    return file;
}

// Colour i of the test palettes, 6-bit red, green and blue.
std::array<uint32_t, 3> HaloColour(uint32_t i) { return {(i * 5) % 64, 63 - (i * 3) % 64, (i * 11) % 64}; }

Bytes HaloPalette(const std::vector<std::array<uint32_t, 3>>& colours) {
    Bytes pal(40, 0);
    pal[0] = 'A';
    pal[1] = 'H';
    pal[2] = 0xE3;  // version
    pal[3] = 0;
    pal[6] = 'A';
    auto word = [&](size_t at, uint32_t v) {
        pal[at] = static_cast<uint8_t>(v);
        pal[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    word(12, static_cast<uint32_t>(colours.size() - 1));
    word(14, 63);
    word(16, 63);
    word(18, 63);
    std::copy_n("Dr. Halo", 8, pal.begin() + 20);
    for (const auto& colour : colours) {
        if (512 - pal.size() % 512 < 6) pal.resize((pal.size() / 512 + 1) * 512, 0);
        for (uint32_t v : colour) {
            pal.push_back(static_cast<uint8_t>(v));
            pal.push_back(0);
        }
    }
    word(4, static_cast<uint32_t>(pal.size()));
    return pal;
}

Bytes HaloPalette(uint32_t colours) {
    std::vector<std::array<uint32_t, 3>> list;
    for (uint32_t i = 0; i < colours; ++i) list.push_back(HaloColour(i));
    return HaloPalette(list);
}

// An Alias PIX of the rose: 24 bits (B, G, R packets) or 8 bits (grey),
// every line cut into runs of at most 255 and flat lines as one run.
Made AliasPixFile(uint32_t bits) {
    uint32_t w, h;
    const Bytes rgb = RoseRgb(w, h);
    Made made;
    made.file = {0, static_cast<uint8_t>(w), 0, static_cast<uint8_t>(h), 0, 0, 0, 0, 0, static_cast<uint8_t>(bits)};
    for (uint32_t y = 0; y < h; ++y) {
        uint32_t x = 0;
        while (x < w) {
            const uint8_t* p = rgb.data() + (size_t{y} * w + x) * 3;
            uint32_t run = 1;
            while (x + run < w && run < 255 && std::equal(p, p + 3, p + run * 3)) ++run;
            if (y % 7 == 0) run = w - x;  // a flat line: one run of the first pixel
            made.file.push_back(static_cast<uint8_t>(run));
            if (bits == 24) {
                made.file.insert(made.file.end(), {p[2], p[1], p[0]});
            } else {
                made.file.push_back(p[1]);
            }
            for (uint32_t k = 0; k < run; ++k) {
                if (bits == 24) made.rgba.insert(made.rgba.end(), {p[0], p[1], p[2], 255});
                else made.rgba.insert(made.rgba.end(), {p[1], p[1], p[1], 255});
            }
            x += run;
        }
    }
    return made;
}

class SimpleReadersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HostTools::Have("convert")) GTEST_SKIP() << "ImageMagick (convert) is not installed";
    }
};

TEST_F(SimpleReadersTest, FilesImageMagickWritesReadAsImageMagickReadsThem) {
    const MadeByMagick cases[] = {
        {"TGA 24 bits raw", Tga::Read, kRose, "-compress none", "tga"},
        {"TGA 24 bits run-length", Tga::Read, kRose, "-compress RLE", "tga"},
        {"TGA 32 bits with alpha raw", Tga::Read, kRoseAlpha, "-compress none", "tga"},
        {"TGA 32 bits with alpha run-length", Tga::Read, kRoseAlpha, "-compress RLE", "tga"},
        {"TGA colour-mapped raw", Tga::Read, kRose, "-type palette -compress none", "tga"},
        {"TGA colour-mapped run-length", Tga::Read, kRose, "-type palette -compress RLE", "tga"},
        {"TGA grey raw", Tga::Read, kRose, "-type grayscale -compress none", "tga"},
        {"TGA grey run-length", Tga::Read, kRose, "-type grayscale -compress RLE", "tga"},
        {"PBM raw", Netpbm::Read, kRose, "-monochrome", "pbm"},
        {"PBM plain", Netpbm::Read, kRose, "-monochrome -compress none", "pbm"},
        {"PGM raw", Netpbm::Read, kRose, "-colorspace gray", "pgm"},
        {"PGM plain", Netpbm::Read, kRose, "-colorspace gray -compress none", "pgm"},
        {"PGM 16 bits", Netpbm::Read, kRose, "-colorspace gray -depth 16", "pgm"},
        {"PPM raw", Netpbm::Read, kRose, "", "ppm"},
        {"PPM plain", Netpbm::Read, kRose, "-compress none", "ppm"},
        {"PPM 16 bits", Netpbm::Read, kRose, "-depth 16", "ppm"},
        {"PPM 16 bits plain", Netpbm::Read, kRose, "-depth 16 -compress none", "ppm"},
        {"PAM RGB and alpha", Netpbm::Read, kRoseAlpha, "", "pam"},
        {"PAM RGB", Netpbm::Read, kRose, "", "pam"},
        {"PAM grey and alpha 16 bits", Netpbm::Read, kRoseAlpha, "-colorspace gray -depth 16", "pam"},
        {"PAM black and white", Netpbm::Read, kRose, "-monochrome", "pam"},
        {"PCX 24 bits", Pcx::Read, kRose, "", "pcx"},
        {"PCX 32 bits with alpha", Pcx::Read, kRoseAlpha, "", "pcx"},
        {"PCX 8 bits with palette", Pcx::Read, kRose, "-type palette", "pcx"},
        {"PCX 2 colours", Pcx::Read, kRose, "-colors 2 -type palette", "pcx"},
        {"WBMP wide", Wbmp::Read, kWide, "", "wbmp"},
        {"WBMP", Wbmp::Read, kRose, "", "wbmp"},
    };
    for (const MadeByMagick& c : cases) {
        const Bytes file = Magick(std::string(c.recipe) + " " + c.options, c.coder);
        if (file.empty()) continue;
        ExpectSame(c.read, file, MagickRgba(file, c.coder), c.what);
        ExpectRefusals(c.read, file, c.what, std::string(c.options).find("palette") == std::string::npos);
    }
}

TEST_F(SimpleReadersTest, TgaFromEveryCornerAndInSixteenBits) {
    for (const char* recipe : {kRose, kRoseAlpha}) {
        const Bytes raw = Magick(std::string(recipe) + " -compress none", "tga");
        for (bool topDown : {false, true})
            for (bool rightToLeft : {false, true}) {
                const Bytes file = TgaFromCorner(raw, topDown, rightToLeft);
                const std::string what = std::string("TGA ") + recipe + (topDown ? " top-down" : " bottom-up") +
                                         (rightToLeft ? " right to left" : " left to right");
                ExpectSame(Tga::Read, file, MagickRgba(file, "tga"), what);
            }
    }
    const Bytes raw24 = Magick(std::string(kRose) + " -compress none", "tga");
    for (bool alphaBit : {false, true})
        for (bool rle : {false, true}) {
            const Bytes file = TgaSixteen(raw24, alphaBit, rle);
            const std::string what = std::string("TGA 16 bits") + (alphaBit ? " with alpha bit" : "") +
                                     (rle ? " run-length" : " raw");
            ExpectSame(Tga::Read, file, MagickRgba(file, "tga"), what);
            ExpectRefusals(Tga::Read, file, what);
        }
}

TEST_F(SimpleReadersTest, NetpbmHeaderCommentsAndAnOddMaxval) {
    // Comments between every field and a maxval that is no power of two.
    std::string header = "P6 # made here\n#another\n 3\t# width\n2\n#max\n1000";
    Bytes file(header.begin(), header.end());
    file.push_back('\n');
    for (uint32_t i = 0; i < 18; ++i) {
        const uint32_t v = (i * 389) % 1001;
        file.push_back(static_cast<uint8_t>(v >> 8));
        file.push_back(static_cast<uint8_t>(v));
    }
    ExpectSame(Netpbm::Read, file, MagickRgba(file, "ppm"), "PPM with comments, maxval 1000");
    const std::string plain = "P2\n# grey\n4 2 # size\n#\n7\n0 1 2 3\n#row\n4 5 6 7\n";
    ExpectSame(Netpbm::Read, Bytes(plain.begin(), plain.end()), MagickRgba(Bytes(plain.begin(), plain.end()), "pgm"),
               "plain PGM with comments, maxval 7");
}

TEST_F(SimpleReadersTest, PcxLowBitDepthsAndOurOwnWriter) {
    for (auto [bits, planes] : {std::pair{1u, 1u}, std::pair{1u, 4u}, std::pair{4u, 1u}, std::pair{2u, 1u}}) {
        const Made made = PcxLowBits(bits, planes);
        const std::string what = "PCX " + std::to_string(bits) + " bit, " + std::to_string(planes) + " planes";
        ExpectSame(Pcx::Read, made.file, made.rgba, what);
        // ImageMagick 6 shows a 1-bit PCX's set bits black, against the
        // format's convention (and PC Paintbrush) of white: not asked there.
        if (bits * planes > 1) ExpectSame(Pcx::Read, made.file, MagickRgba(made.file, "pcx"), what + ", ImageMagick");
        ExpectRefusals(Pcx::Read, made.file, what);
    }
    // What our own writer makes, at an odd width (a pad byte a plane line),
    // comes back exactly.
    Image image;
    image.width = 301;
    image.height = 7;
    for (uint32_t i = 0; i < image.width * image.height; ++i)
        image.bgra.insert(image.bgra.end(), {static_cast<uint8_t>(i % 3 ? i : 0xC5), static_cast<uint8_t>(i / 301 * 40),
                                             static_cast<uint8_t>(i % 64 < 40 ? 0xFF : i * 7), 0xFF});
    const Bytes file = Pcx::Write(image);
    Decoded decoded;
    ASSERT_TRUE(Pcx::Read(file.data(), file.size(), ReadRequest{}, decoded).Ok());
    EXPECT_EQ(decoded.image.width, image.width);
    EXPECT_EQ(decoded.image.bgra, image.bgra);
    EXPECT_EQ(decoded.metadata.dpiX, 72);
}

TEST_F(SimpleReadersTest, HaloCutWithAndWithoutItsPalette) {
    uint32_t w, h;
    for (uint32_t shades : {256u, 16u}) {
        const Bytes file = HaloCutFile(w, h, shades);
        const std::string what = "CUT of " + std::to_string(shades) + " indices";
        // Without a palette, index i is grey level i (ImageMagick's choice
        // too; a picture of few indices is dark, and nothing says which
        // index was meant as white).
        ExpectSame(static_cast<ByteReader>(&HaloCut::Read), file, MagickRgba(file, "cut"), what + " without palette");
        const Bytes pal = HaloPalette(shades);
        const Reader withPalette = [&pal](const uint8_t* d, size_t n, const ReadRequest& r, Decoded& o) {
            return HaloCut::Read(d, n, pal.data(), pal.size(), r, o);
        };
        ExpectSame(withPalette, file, MagickRgba(file, "cut", &pal), what + " with palette");
        ExpectRefusals(withPalette, file, what);
    }
    // A palette shorter than the indices the picture uses: those beyond it
    // take its first colour, and nothing is read past the colours the
    // palette holds. ImageMagick refuses such a pair; it reads the same
    // picture with the full palette that says so.
    const Bytes file = HaloCutFile(w, h, 256);
    const Bytes shortPalette = HaloPalette(16);
    std::vector<std::array<uint32_t, 3>> padded;
    for (uint32_t i = 0; i < 256; ++i) padded.push_back(HaloColour(i < 16 ? i : 0));
    const Bytes paddedPalette = HaloPalette(padded);
    const Reader withShort = [&shortPalette](const uint8_t* d, size_t n, const ReadRequest& r, Decoded& o) {
        return HaloCut::Read(d, n, shortPalette.data(), shortPalette.size(), r, o);
    };
    ExpectSame(withShort, file, MagickRgba(file, "cut", &paddedPalette), "CUT of 256 indices, palette of 16");
}

TEST_F(SimpleReadersTest, AliasPixTwentyFourAndEightBits) {
    for (uint32_t bits : {24u, 8u}) {
        const Made made = AliasPixFile(bits);
        const std::string what = "PIX " + std::to_string(bits) + " bits";
        ExpectSame(AliasPix::Read, made.file, made.rgba, what);
        // ImageMagick 6 takes the 8-bit (matte) variant's values for
        // indices into a palette it does not have: asked of 24 bits only.
        if (bits == 24) ExpectSame(AliasPix::Read, made.file, MagickRgba(made.file, "pix"), what + ", ImageMagick");
        ExpectRefusals(AliasPix::Read, made.file, what);
    }
}

TEST(SimpleReadersHeaders, WhatIsNotTheFormatIsLeftToOthers) {
    // A PNG and a JPEG header offered to each reader: none takes them.
    const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 1, 0, 0, 0, 1, 0};
    const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 72, 0, 72, 0, 0, 0, 0, 0, 0};
    for (const Bytes& file : {png, jpeg}) {
        for (ByteReader read : {&Tga::Read, &Netpbm::Read, &Pcx::Read, &Wbmp::Read}) {
            Decoded decoded;
            EXPECT_EQ(read(file.data(), file.size(), ReadRequest{}, decoded).status, ReadStatus::NotThisFormat);
        }
    }
}

}  // namespace
