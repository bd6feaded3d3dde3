// The Photoshop, Photo CD, Group 3 fax and Paint Shop Pro readers against
// files made by the host's tools (ImageMagick, libtiff's tiffcp), each read
// compared with what ImageMagick decodes from the same file or with the
// picture the file was made from. Nothing on the host reads or writes Paint
// Shop Pro files: those are built by the format's documented layout
// (model/PspModel.h).
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "converter/base/Pixels.h"
#include "converter/readers/G3Fax.h"
#include "converter/readers/PaintShopPro.h"
#include "converter/readers/PhotoCd.h"
#include "converter/readers/Psd.h"
#include "model/HostTools.h"
#include "model/PspModel.h"

namespace {

using HostTools::Output;
using HostTools::TempFile;

std::vector<uint8_t> Shell(const std::string& command) {
    std::string errors;
    auto out = Output(command, &errors);
    EXPECT_TRUE(out.has_value()) << command << ": " << errors;
    return out.value_or(std::vector<uint8_t>());
}

// A file made by a shell command that ends in the output path (`command`
// is put right before it).
std::vector<uint8_t> Made(const std::string& command, const std::string& suffix) {
    TempFile file({}, suffix);
    Shell(command + file.Path());
    return Shell("cat " + file.Path());
}

// What ImageMagick decodes from the bytes, as RGBA: by default the first
// picture of the file (a Photoshop file's merged one).
std::vector<uint8_t> ImageMagickRgba(const std::vector<uint8_t>& file, const std::string& coder,
                                     const std::string& options = "", const std::string& frame = "[0]") {
    TempFile temp(file, "." + coder);
    return Shell("convert " + options + " " + coder + ":" + temp.Path() + frame + " -depth 8 rgba:-");
}

// Every channel of every pixel within `tolerance`; the first miss reported.
void ExpectSamePixels(const Image& ours, const std::vector<uint8_t>& rgba, int tolerance) {
    ASSERT_EQ(ours.bgra.size(), rgba.size());
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const uint8_t* p = ours.bgra.data() + i;
        const int mine[4] = {p[2], p[1], p[0], p[3]};
        for (int c = 0; c < 4; ++c)
            ASSERT_LE(std::abs(mine[c] - rgba[i + c]), tolerance)
                << "pixel " << i / 4 << " (" << (i / 4) % ours.width << ", " << (i / 4) / ours.width << ") channel " << c;
    }
}

// ---------------------------------------------------------------------------

struct PsdCase {
    const char* name;
    const char* recipe;  // ImageMagick arguments that make the picture
    const char* options;  // how it is written
    int tolerance;        // 16-bit and blended samples: ImageMagick rounds down
};

TEST(PsdReader, ReadsTheMergedPictureAsImageMagickDoes) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const PsdCase cases[] = {
        {"RGB 8, PackBits", "-size 37x21 gradient:red-blue -depth 8", "-compress rle", 0},
        {"RGB 8, raw", "-seed 3 -size 37x21 plasma:fractal -depth 8", "-compress none", 0},
        {"RGB 16", "-size 37x21 gradient:orange-navy -depth 16", "-compress rle", 1},
        {"grey 8", "-size 37x21 gradient: -colorspace gray -depth 8", "", 0},
        {"grey 16, raw", "-size 37x21 gradient: -colorspace gray -depth 16", "-compress none", 1},
        {"bitmap", "-size 37x21 pattern:checkerboard -type bilevel -depth 1", "", 0},
        // CMYK without a profile goes through the converter's fallback
        // profile: ImageMagick's own formula, within a level.
        {"CMYK 8", "-size 37x21 gradient:red-yellow -depth 8 -colorspace cmyk", "", 1},
        {"CMYK 16", "-size 37x21 gradient:green-blue -depth 16 -colorspace cmyk", "", 1},
        // Photoshop keeps a transparent document's merged picture blended
        // onto white: only such colours (none darker than the white that
        // shows through) make sense.
        {"RGBA 8", "-size 37x21 gradient:white-#FFE0C0 -depth 8 -alpha set -channel A -fx 0.5+0.02*j +channel", "", 1},
    };
    for (const PsdCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> file = Made(std::string("convert ") + c.recipe + " " + c.options + " psd:", ".psd");
        Decoded decoded;
        const ReadResult result = Psd::Read(file.data(), file.size(), ReadRequest{}, decoded);
        ASSERT_EQ(result.status, ReadStatus::Ok);
        EXPECT_EQ(decoded.orientation, 1);
        ExpectSamePixels(decoded.image, ImageMagickRgba(file, "psd"), c.tolerance);
    }
}

// ImageMagick writes indexed PSDs it cannot read back itself: judged against
// the picture they were made from.
TEST(PsdReader, ReadsIndexedPicturesThroughTheirPalette) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const std::string recipe = "-size 64x40 gradient:red-blue -depth 8 -colors 7";
    const std::vector<uint8_t> file = Made("convert " + recipe + " -compress rle psd:", ".psd");
    Decoded decoded;
    ASSERT_EQ(Psd::Read(file.data(), file.size(), ReadRequest{}, decoded).status, ReadStatus::Ok);
    ExpectSamePixels(decoded.image, Shell("convert " + recipe + " rgba:-"), 0);
}

// Header, colour mode data, resources and layers: the offset of the merged
// picture.
size_t PsdMergedOffset(const std::vector<uint8_t>& file) {
    size_t at = 26;
    for (int section = 0; section < 3; ++section) {
        const uint32_t length = uint32_t{file[at]} << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3];
        at += 4 + length;
    }
    return at;
}

TEST(PsdReader, SaysWhenTheMergedPictureIsMissingOrCutShort) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const std::vector<uint8_t> file = Made("convert -size 30x20 gradient:red-blue -depth 8 -compress rle psd:", ".psd");
    const size_t merged = PsdMergedOffset(file);
    ASSERT_LT(merged, file.size());
    Decoded decoded;

    const std::vector<uint8_t> layersOnly(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(merged));
    ReadResult result = Psd::Read(layersOnly.data(), layersOnly.size(), ReadRequest{}, decoded);
    EXPECT_EQ(result.status, ReadStatus::NoPicture);
    ASSERT_NE(result.reason, nullptr);
    EXPECT_NE(std::wstring(result.reason).find(L"Photoshop"), std::wstring::npos);

    for (size_t cut : {merged + 1, merged + 40, file.size() - 1}) {
        const std::vector<uint8_t> shorter(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(Psd::Read(shorter.data(), shorter.size(), ReadRequest{}, decoded).status, ReadStatus::Damaged) << cut;
    }
    ReadRequest small;
    small.maxPixels = 30 * 20 - 1;
    EXPECT_EQ(Psd::Read(file.data(), file.size(), small, decoded).status, ReadStatus::TooLarge);
    EXPECT_EQ(Psd::Read(file.data() + 1, file.size() - 1, ReadRequest{}, decoded).status, ReadStatus::NotThisFormat);
}

// The variants no host tool writes, made by the format's documented layout
// (tests/support/craft_psd.py): 32-bit float, Lab, multichannel, ZIP
// merged pictures, many extra channels.
std::vector<uint8_t> Crafted(const std::string& options) {
    return Made("/usr/bin/python3 " QUENNEL_SOURCE_DIR "/tests/support/craft_psd.py " + options + " --size 37x23 -- ",
                ".psd");
}

std::vector<uint8_t> ReadRgba(const std::vector<uint8_t>& file, ReadStatus expected = ReadStatus::Ok) {
    Decoded decoded;
    EXPECT_EQ(Psd::Read(file.data(), file.size(), ReadRequest{}, decoded).status, expected);
    std::vector<uint8_t> rgba(decoded.image.bgra);
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]);
    return rgba;
}

Image AsImage(const std::vector<uint8_t>& rgba) {
    Image image;
    image.width = 37;
    image.height = 23;
    image.bgra = rgba;
    for (size_t i = 0; i + 3 < image.bgra.size(); i += 4) std::swap(image.bgra[i], image.bgra[i + 2]);
    return image;
}

TEST(PsdReader, ReadsFloatMultichannelAndManyChannelsAsImageMagickDoes) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const struct {
        const char* options;
        int tolerance;
    } cases[] = {
        // Floats run beyond 0..1 both ways: ImageMagick clips them.
        {"--depth 32", 1},
        {"--depth 32 --mode grey", 1},
        {"--depth 32 --extra 2 --alpha", 1},
        {"--depth 32 --large --compression rle", 1},
        {"--mode multi", 0},
        {"--mode multi --inks 4 --depth 16 --compression rle", 1},
        {"--extra 53 --alpha --compression rle", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        const std::vector<uint8_t> file = Crafted(c.options);
        ExpectSamePixels(AsImage(ReadRgba(file)), ImageMagickRgba(file, "psd"), c.tolerance);
    }
    // More channels than Photoshop's (and ImageMagick's) 56: the picture is
    // the one the same channels show with a single extra channel.
    ExpectSamePixels(AsImage(ReadRgba(Crafted("--depth 16 --extra 60 --compression rle"))),
                     ImageMagickRgba(Crafted("--depth 16 --extra 1 --compression rle"), "psd"), 1);
}

// ImageMagick refuses a multichannel document of fewer than three channels;
// Pillow shows its first channel as grey, and so do we.
TEST(PsdReader, ShowsTheFirstOfFewMultichannelInksAsGrey) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const std::vector<uint8_t> file = Crafted("--mode multi --inks 2");
    TempFile temp(file, ".psd");
    const std::vector<uint8_t> pillow = Shell(
        "/usr/bin/python3 -c \"import sys; from PIL import Image; "
        "sys.stdout.buffer.write(Image.open('" + temp.Path() + "').convert('RGBA').tobytes())\"");
    ExpectSamePixels(AsImage(ReadRgba(file)), pillow, 0);
}

// ZIP merged pictures: ImageMagick reads ZIP only in layers, so each is
// judged against ImageMagick's reading of the same picture stored raw.
TEST(PsdReader, ReadsZipMergedPicturesWithAndWithoutPrediction) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    for (const char* depth : {"8", "16", "32"}) {
        const std::string picture = std::string("--depth ") + depth + " --extra 1 --alpha";
        const std::vector<uint8_t> reference = ImageMagickRgba(Crafted(picture), "psd");
        for (const char* compression : {"zip", "zippred"}) {
            SCOPED_TRACE(picture + " " + compression);
            const std::vector<uint8_t> file = Crafted(picture + " --compression " + compression);
            ExpectSamePixels(AsImage(ReadRgba(file)), reference, 1);
            // A stream cut short, or not a zlib stream, is damage.
            const std::vector<uint8_t> cut(file.begin(), file.end() - 9);
            ReadRgba(cut, ReadStatus::Damaged);
            std::vector<uint8_t> broken = file;
            broken[PsdMergedOffset(file) + 2] ^= 0xFF;
            ReadRgba(broken, ReadStatus::Damaged);
        }
    }
    // A stream far too short for the size its header claims is refused
    // before the picture's memory is taken (a deflate stream expands at
    // most 1032 times).
    std::vector<uint8_t> bomb = Crafted("--compression zip");
    const uint8_t huge[4] = {0, 0, 0x75, 0x30};  // 30000 a side
    std::copy(huge, huge + 4, bomb.begin() + 14);
    std::copy(huge, huge + 4, bomb.begin() + 18);
    ReadRequest unlimited;
    unlimited.maxPixels = uint64_t{1} << 32;
    Decoded decoded;
    EXPECT_EQ(Psd::Read(bomb.data(), bomb.size(), unlimited, decoded).status, ReadStatus::Damaged);
}

// Photoshop's Lab is the ICC one, white point D50, turned into sRGB by Little
// CMS. Pillow hands over the Lab numbers and Little CMS (ImageCms) converts
// them the same way; ImageMagick assumes a D65 white, which moves dark
// saturated colours by up to some 30 levels in one channel.
TEST(PsdReader, ConvertsLabToSrgbThroughTheD50WhitePoint) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const std::vector<uint8_t> lab8 = Crafted("--mode lab");
    TempFile temp(lab8, ".psd");
    const std::vector<uint8_t> pillow = Shell(
        "/usr/bin/python3 -c \"import sys; from PIL import Image, ImageCms; "
        "t = ImageCms.buildTransform(ImageCms.createProfile('LAB', 5000), ImageCms.createProfile('sRGB'), "
        "'LAB', 'RGB', renderingIntent=1, flags=0x100); "
        "im = ImageCms.applyTransform(Image.open('" + temp.Path() + "'), t); "
        "sys.stdout.buffer.write(im.convert('RGBA').tobytes())\"");
    const std::vector<uint8_t> ours = ReadRgba(lab8);
    ExpectSamePixels(AsImage(ours), pillow, 1);
    for (const std::vector<uint8_t>& file : {lab8, Crafted("--mode lab --depth 16 --compression rle")}) {
        const std::vector<uint8_t> imageMagick = ImageMagickRgba(file, "psd");
        const std::vector<uint8_t> mine = ReadRgba(file);
        ExpectSamePixels(AsImage(mine), imageMagick, 32);
        double sum = 0;
        for (size_t i = 0; i < mine.size(); ++i) sum += std::abs(mine[i] - imageMagick[i]);
        EXPECT_LT(sum / static_cast<double>(mine.size()), 2.0);
    }
    // A transparent Lab document was blended onto Lab's white: unblended,
    // what is visible enough keeps the opaque document's colours.
    const std::vector<uint8_t> blended = ReadRgba(Crafted("--mode lab --extra 1 --alpha"));
    ASSERT_EQ(blended.size(), ours.size());
    for (size_t i = 0; i < ours.size(); i += 4)
        if (blended[i + 3] >= 64)
            for (size_t c = 0; c < 3; ++c) ASSERT_LE(std::abs(blended[i + c] - ours[i + c]), 12) << i / 4;
}

// ---------------------------------------------------------------------------

TEST(PhotoCdReader, ConvertsTheBasePictureAndItsRotationAsImageMagickDoes) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    std::vector<uint8_t> file = Made(
        "convert -size 768x512 gradient:#c03020-#2080d0 \\( -size 768x512 pattern:checkerboard \\) "
        "-compose multiply -composite -depth 8 pcd:",
        ".pcd");
    ASSERT_GT(file.size(), 0xE02u);
    // The rotation in the header's attribute byte: none, a quarter turn
    // either way (ImageMagick leaves a half turn alone).
    for (uint8_t rotation : {uint8_t{0}, uint8_t{1}, uint8_t{3}}) {
        SCOPED_TRACE("rotation " + std::to_string(rotation));
        file[0xE02] = rotation;
        Decoded decoded;
        ASSERT_EQ(PhotoCd::Read(file.data(), file.size(), ReadRequest{}, decoded).status, ReadStatus::Ok);
        ASSERT_EQ(decoded.image.width, 768u);
        ASSERT_EQ(decoded.image.height, 512u);
        Pixels::Orient(decoded.image, decoded.orientation);
        // Chroma interpolated and the colour sums rounded alike, up to one step.
        ExpectSamePixels(decoded.image, ImageMagickRgba(file, "pcd", "", ""), 1);
    }
    Decoded decoded;
    const std::vector<uint8_t> cut(file.begin(), file.begin() + 0x30000 + 768 * 512);
    EXPECT_EQ(PhotoCd::Read(cut.data(), cut.size(), ReadRequest{}, decoded).status, ReadStatus::Damaged);
    file[0x800] = 'X';
    EXPECT_EQ(PhotoCd::Read(file.data(), file.size(), ReadRequest{}, decoded).status, ReadStatus::NotThisFormat);
}

// ---------------------------------------------------------------------------

// The one strip of a TIFF file that tiffcp wrote with -r larger than the page.
std::vector<uint8_t> OnlyStrip(const std::vector<uint8_t>& tiff) {
    const bool little = tiff.at(0) == 'I';
    auto u16 = [&](size_t at) -> uint32_t { return little ? tiff.at(at) | tiff.at(at + 1) << 8 : tiff.at(at) << 8 | tiff.at(at + 1); };
    auto u32 = [&](size_t at) {
        return little ? uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16 : uint32_t(u16(at)) << 16 | u16(at + 2);
    };
    const uint32_t ifd = u32(4);
    uint32_t offset = 0, count = 0;
    for (uint32_t i = 0; i < u16(ifd); ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        const uint32_t value = u16(entry + 2) == 3 ? uint32_t(u16(entry + 8)) : u32(entry + 8);
        if (u16(entry) == 273) offset = value;
        if (u16(entry) == 279) count = value;
    }
    EXPECT_GT(count, 0u);
    return std::vector<uint8_t>(tiff.begin() + offset, tiff.begin() + offset + count);
}

TEST(G3FaxReader, ReadsModifiedHuffmanPagesWithEveryKindOfLineEnd) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    ASSERT_TRUE(HostTools::Have("tiffcp")) << "libtiff's tiffcp (libtiff-tools) is needed";
    // Noise blurred into blobs (runs of every length), full-width and
    // overlong bars (the make-up codes up to 1728), a fine line.
    const std::string recipe =
        "-size 1728x150 xc:white -seed 7 +noise Random -blur 0x3 -colorspace gray -threshold 50% "
        "-fill black -draw \"rectangle 0,10 1727,12\" -draw \"rectangle 5,20 1727,22\" "
        "-draw \"line 0,140 1727,145\" -fill white -draw \"rectangle 0,60 1727,70\" -monochrome";
    TempFile picture(Shell("convert " + recipe + " png:-"), ".png");
    const std::vector<uint8_t> expected = Shell("convert " + picture.Path() + " -depth 8 rgba:-");

    // ImageMagick's own fax writer: an end-of-line code before every row.
    const std::vector<uint8_t> imageMagick = Shell("convert " + picture.Path() + " g3:-");
    // libtiff's Group 3 coder, with and without fill bits that put every
    // end-of-line code on a byte boundary. Fax codes runs of 0 bits as
    // white, so the picture goes in negated (TIFF's 0 is black here).
    TempFile plain(Shell("convert " + picture.Path() + " -negate -monochrome -depth 1 -compress none tiff:-"), ".tif");
    const std::vector<uint8_t> aligned =
        OnlyStrip(Made("tiffcp -c g3:1d:fill -r 100000 " + plain.Path() + " ", ".tif"));
    const std::vector<uint8_t> unaligned = OnlyStrip(Made("tiffcp -c g3:1d -r 100000 " + plain.Path() + " ", ".tif"));
    // The same codes with the bits of every byte the other way round, as fax
    // modems hand them over.
    std::vector<uint8_t> reversed = imageMagick;
    for (uint8_t& byte : reversed) {
        uint8_t r = 0;
        for (int b = 0; b < 8; ++b) r |= ((byte >> b) & 1) << (7 - b);
        byte = r;
    }
    const std::pair<const char*, const std::vector<uint8_t>*> files[] = {
        {"ImageMagick", &imageMagick}, {"tiffcp fill", &aligned}, {"tiffcp", &unaligned}, {"LSB first", &reversed}};
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        Decoded decoded;
        ASSERT_EQ(G3Fax::Read(file->data(), file->size(), ReadRequest{}, decoded).status, ReadStatus::Ok);
        ASSERT_EQ(decoded.image.width, G3Fax::kWidth);
        ExpectSamePixels(decoded.image, expected, 0);
        EXPECT_EQ(decoded.metadata.dpiX, 204);
        EXPECT_EQ(decoded.metadata.dpiY, 196);
    }
    // ImageMagick reads its own file alike.
    {
        Decoded decoded;
        ASSERT_EQ(G3Fax::ReadNormal(imageMagick.data(), imageMagick.size(), ReadRequest{}, decoded).status,
                  ReadStatus::Ok);
        EXPECT_EQ(decoded.metadata.dpiY, 98);
        ExpectSamePixels(decoded.image, ImageMagickRgba(imageMagick, "fax", "-size 1728"), 0);
    }
    Decoded decoded;
    // A page cut off in its middle rows is damaged; anything else is not a fax.
    const std::vector<uint8_t> cut(imageMagick.begin(), imageMagick.begin() + imageMagick.size() / 2);
    EXPECT_EQ(G3Fax::Read(cut.data(), cut.size(), ReadRequest{}, decoded).status, ReadStatus::Damaged);
    const std::vector<uint8_t> png = Shell("convert " + picture.Path() + " png:-");
    EXPECT_EQ(G3Fax::Read(png.data(), png.size(), ReadRequest{}, decoded).status, ReadStatus::NotThisFormat);
    ReadRequest small;
    small.maxPixels = G3Fax::kWidth * 100;
    EXPECT_EQ(G3Fax::Read(imageMagick.data(), imageMagick.size(), small, decoded).status, ReadStatus::TooLarge);
}

// ---------------------------------------------------------------------------

std::vector<uint8_t> Zlib(const std::vector<uint8_t>& data) {
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    std::vector<uint8_t> out(length);
    EXPECT_EQ(compress(out.data(), &length, data.data(), static_cast<uLong>(data.size())), Z_OK);
    out.resize(length);
    return out;
}

TEST(PaintShopProReader, ReadsTheFullSizeCompositeInEveryCompression) {
    const PspModel::Picture p = PspModel::Sample(45, 23);
    for (uint16_t compression : {0, 1, 2}) {
        for (bool paletted : {false, true}) {
            SCOPED_TRACE("compression " + std::to_string(compression) + (paletted ? ", paletted" : ", 24 bits"));
            const std::vector<uint8_t> file = PspModel::WithComposite(p, compression, paletted, Zlib);
            Decoded decoded;
            ASSERT_EQ(PaintShopPro::Read(file.data(), file.size(), ReadRequest{}, decoded).status, ReadStatus::Ok);
            ASSERT_EQ(decoded.image.width, p.width);
            ASSERT_EQ(decoded.image.height, p.height);
            EXPECT_NEAR(decoded.metadata.dpiX, 150, 1e-9);
            for (uint32_t y = 0; y < p.height; ++y)
                for (uint32_t x = 0; x < p.width; ++x) {
                    const uint32_t rgb = p.Rgb(x, y, paletted);
                    const uint8_t* px = decoded.image.Row(y) + x * 4;
                    ASSERT_EQ(uint32_t{px[2]} << 16 | px[1] << 8 | px[0], rgb) << x << "," << y;
                    ASSERT_EQ(px[3], 255);
                }
        }
    }
}

// Four and one bits a pixel: two pixels (eight) a byte, the first in the
// high bits; a reader that takes the nibbles the other way round shows
// every pair swapped.
TEST(PaintShopProReader, ReadsPackedIndicesInTheirOrder) {
    const PspModel::Picture p = PspModel::Sample(45, 23);
    for (uint16_t bits : {4, 1}) {
        for (uint16_t compression : {0, 1}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, compression " + std::to_string(compression));
            const std::vector<uint8_t> file = PspModel::WithComposite(p, compression, true, Zlib, bits);
            Decoded decoded;
            ASSERT_EQ(PaintShopPro::Read(file.data(), file.size(), ReadRequest{}, decoded).status, ReadStatus::Ok);
            ASSERT_EQ(decoded.image.width, p.width);
            for (uint32_t y = 0; y < p.height; ++y)
                for (uint32_t x = 0; x < p.width; ++x) {
                    const uint8_t* px = decoded.image.Row(y) + x * 4;
                    ASSERT_EQ(uint32_t{px[2]} << 16 | px[1] << 8 | px[0], p.Rgb(x, y, true, bits)) << x << "," << y;
                }
        }
    }
}

TEST(PaintShopProReader, NamesTheFormatWhenThereIsNoComposite) {
    const std::vector<uint8_t> layersOnly = PspModel::WithoutComposite(10, 10);
    Decoded decoded;
    const ReadResult result = PaintShopPro::Read(layersOnly.data(), layersOnly.size(), ReadRequest{}, decoded);
    EXPECT_EQ(result.status, ReadStatus::NoPicture);
    ASSERT_NE(result.reason, nullptr);
    EXPECT_NE(std::wstring(result.reason).find(L"Paint-Shop-Pro"), std::wstring::npos);

    // Cut anywhere inside the composite: damaged, never read past the end.
    const std::vector<uint8_t> whole = PspModel::WithComposite(PspModel::Sample(9, 4), 1, false);
    for (size_t cut = 40; cut < whole.size(); cut += 7) {
        const std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        const ReadStatus status = PaintShopPro::Read(part.data(), part.size(), ReadRequest{}, decoded).status;
        EXPECT_TRUE(status == ReadStatus::Damaged || status == ReadStatus::NoPicture) << cut;
    }
    const std::vector<uint8_t> psd = {'8', 'B', 'P', 'S', 0, 1};
    EXPECT_EQ(PaintShopPro::Read(psd.data(), psd.size(), ReadRequest{}, decoded).status, ReadStatus::NotThisFormat);
}

}  // namespace
