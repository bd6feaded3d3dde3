// PNG and TIFF through the real transform.exe (libspng, libtiff): a set of
// PNG files of every colour type and depth, with transparency, interlaced
// and animated, and TIFF files of every compression, layout and sample kind
// the host's ImageMagick, Pillow and libtiff's tiffcp write, each judged
// against ImageMagick's (and for PNG Pillow's) reading of the same file; the
// colour chunks and metadata of a PNG; a TIFF result checked by tiffinfo and
// exiftool for one directory that holds everything.
#include "ConverterFixture.h"

namespace {

// ImageMagick's own test picture, and one with a gradient of transparency.
const char kBase[] = "-size 97x61 plasma:fractal -seed 3 -depth 8";
const char kAlpha[] =
    "-size 97x61 plasma:fractal -seed 3 \\( -size 97x61 gradient:white-black \\) -alpha off "
    "-compose CopyOpacity -composite -depth 8";

// The system's Python with Pillow (a Python of the user's may lack it).
const char kPython[] = "/usr/bin/python3";

struct Variant {
    const wchar_t* name;
    // A shell command that makes the file from base.png and alpha.png in the
    // test's folder ("%o": the file to make).
    const char* make;
    // The least PSNR against the references (1e9: pixel for pixel): 16-bit
    // samples are cut to 8 bits where ImageMagick rounds; CMYK's inks and
    // premultiplied alpha round once more.
    double minPsnr;
    bool pillow;  // Pillow reads it as 8-bit RGBA too and is asked as well
};

const Variant kPngs[] = {
    {L"rgb8.png", "convert base.png png24:%o", 1e9, true},
    {L"rgba8.png", "convert alpha.png png32:%o", 1e9, true},
    {L"rgb16.png", "convert base.png -depth 16 png48:%o", 45, false},
    {L"rgba16.png", "convert alpha.png -depth 16 png64:%o", 45, false},
    {L"grey1.png", "convert base.png -colorspace Gray -depth 1 png:%o", 1e9, true},
    {L"grey2.png", "convert base.png -colorspace Gray -depth 2 png:%o", 1e9, true},
    {L"grey4.png", "convert base.png -colorspace Gray -depth 4 png:%o", 1e9, true},
    {L"grey8.png", "convert base.png -colorspace Gray -depth 8 png:%o", 1e9, true},
    {L"grey16.png", "convert base.png -colorspace Gray -depth 16 png:%o", 45, false},
    {L"greyalpha8.png", "convert alpha.png -colorspace Gray -depth 8 png:%o", 1e9, true},
    {L"greyalpha16.png", "convert alpha.png -colorspace Gray -depth 16 png:%o", 45, false},
    {L"palette.png", "convert base.png +dither -colors 16 png8:%o", 1e9, true},
    {L"interlaced.png", "convert base.png -interlace PNG png24:%o", 1e9, true},
    // tRNS in each colour type that has it, and an animation, from Pillow.
    {L"palette-trns.png",
     "/usr/bin/python3 -c \"from PIL import Image; p = Image.open('base.png').convert('RGB').quantize(4); "
     "p.save('%o', bits=2, transparency=1)\"",
     1e9, true},
    {L"grey-trns.png",
     "/usr/bin/python3 -c \"from PIL import Image; Image.open('base.png').convert('L').save('%o', transparency=128)\"",
     1e9, true},
    {L"rgb-trns.png",
     "/usr/bin/python3 -c \"from PIL import Image; i = Image.open('base.png').convert('RGB'); "
     "c = i.getpixel((5, 5)); i.save('%o', transparency=c)\"",
     1e9, true},
    {L"animated.png",
     "/usr/bin/python3 -c \"from PIL import Image; i = Image.open('base.png').convert('RGB'); "
     "i.save('%o', save_all=True, append_images=[i.rotate(180), i.transpose(0)], duration=100, loop=0)\"",
     1e9, true},
};

const Variant kTiffs[] = {
    {L"none.tif", "convert base.png -compress none %o", 1e9, false},
    {L"lzw.tif", "tiffcp -c lzw none.tif %o", 1e9, false},
    {L"deflate-predictor.tif", "tiffcp -c zip:2 none.tif %o", 1e9, false},
    {L"packbits.tif", "tiffcp -c packbits none.tif %o", 1e9, false},
    {L"jpeg-ycbcr.tif", "tiffcp -c jpeg -r 16 none.tif %o", 1e9, false},
    {L"jpeg-rgb.tif", "convert base.png -compress jpeg %o", 1e9, false},
    {L"fax-g3.tif", "convert base.png -monochrome -compress fax %o", 1e9, false},
    {L"fax-g4.tif", "convert base.png -monochrome -compress group4 %o", 1e9, false},
    {L"grey.tif", "convert base.png -colorspace Gray %o", 1e9, false},
    // libtiff cuts the 16-bit colour map to 8 bits where ImageMagick rounds.
    {L"palette.tif", "convert base.png +dither -colors 16 -type palette %o", 45, false},
    {L"rgb16.tif", "convert base.png -depth 16 %o", 1e9, false},
    {L"float.tif", "convert base.png -define quantum:format=floating-point -depth 32 %o", 1e9, false},
    {L"tiles.tif", "tiffcp -t -w 32 -l 32 none.tif %o", 1e9, false},
    {L"tiles16.tif", "tiffcp -t -w 32 -l 32 rgb16.tif %o", 1e9, false},
    {L"planar.tif", "tiffcp -p separate none.tif %o", 1e9, false},
    {L"planar-tiles.tif", "tiffcp -p separate -t -w 32 -l 32 none.tif %o", 1e9, false},
    {L"planar16.tif", "convert base.png -depth 16 -interlace plane %o", 1e9, false},
    {L"unassociated.tif", "convert alpha.png %o", 1e9, false},
    {L"associated.tif", "convert alpha.png -define tiff:alpha=associated %o", 45, false},
    {L"cmyk.tif", "convert base.png -colorspace CMYK %o", 45, false},
    {L"pages.tif", "convert base.png alpha.png -rotate 90 %o", 1e9, false},
};

}  // namespace

class PngTiffTest : public ConverterFixture {
protected:
    // Makes base.png, alpha.png and every variant in the folder, in order
    // (later ones may start from earlier ones).
    void MakeVariants(const Variant* variants, size_t count) {
        MakePicture(At(L"base.png"), kBase);
        MakePicture(At(L"alpha.png"), kAlpha);
        for (size_t i = 0; i < count; ++i) {
            std::string command = variants[i].make;
            command.replace(command.find("%o"), 2, Utf8FromWide(variants[i].name));
            const ProcessResult made = Host("cd " + Unix(Dir()) + " && " + command);
            ASSERT_EQ(made.exitCode, 0u) << command << ": " << made.err;
        }
    }

    // Every variant converted to PNG, as ImageMagick (and Pillow) read its
    // first picture.
    void Judge(const Variant* variants, size_t count, const wchar_t* suffix) {
        std::vector<std::wstring> list;
        for (size_t i = 0; i < count; ++i) list.push_back(At(variants[i].name));
        const ProcessResult run = Convert(list, "TOPNG");
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        for (size_t i = 0; i < count; ++i) {
            const Variant& variant = variants[i];
            const std::wstring name = variant.name;
            SCOPED_TRACE(Utf8FromWide(name));
            const std::wstring stem = name.substr(0, name.rfind(L'.'));
            const std::wstring result = At(stem + suffix), reference = At(L"im-" + stem + L".png");
            ASSERT_EQ(Host("convert " + Unix(At(name)) + "[0] -depth 8 png32:" + Unix(reference)).exitCode, 0u);
            const double psnr = Compare(reference, result, "PSNR");
            if (variant.minPsnr >= 1e9) EXPECT_EQ(Compare(reference, result, "AE"), 0.0) << psnr;
            else EXPECT_GE(psnr, variant.minPsnr);
            if (!variant.pillow) continue;
            const std::wstring pillow = At(L"pil-" + stem + L".png");
            ASSERT_EQ(Host(std::string(kPython) + " -c \"import sys; from PIL import Image; "
                           "Image.open(sys.argv[1]).convert('RGBA').save(sys.argv[2])\" " +
                           Unix(At(name)) + " " + Unix(pillow)).exitCode, 0u);
            EXPECT_EQ(Compare(pillow, result, "AE"), 0.0);
        }
    }
};

TEST_F(PngTiffTest, EveryPngVariantReadsAsImageMagickAndPillowReadIt) {
    MakeVariants(kPngs, std::size(kPngs));
    // The animation's default image is the first of three frames, each different.
    ASSERT_EQ(Host("identify " + Unix(At(L"animated.png")) + " | wc -l").out, "1\n");
    Judge(kPngs, std::size(kPngs), L" (2).png");
}

TEST_F(PngTiffTest, EveryTiffVariantReadsAsImageMagickReadsIt) {
    MakeVariants(kTiffs, std::size(kTiffs));
    const ProcessResult info = Host("cd " + Unix(Dir()) + " && tiffinfo jpeg-ycbcr.tif planar-tiles.tif float.tif");
    for (const char* said : {"YCbCr", "separate image planes", "Tile Width: 32", "IEEE floating point"})
        ASSERT_NE(info.out.find(said), std::string::npos) << said;
    Judge(kTiffs, std::size(kTiffs), L".png");
}

TEST_F(PngTiffTest, TiffTurnedByItsOrientationAndCmykThroughItsProfile) {
    MakePicture(At(L"base.png"), kBase);
    const std::string profiles = "/usr/share/color/icc/ghostscript/";
    ASSERT_EQ(Host("cd " + Unix(Dir()) + " && convert base.png -orient RightTop turned.tif && convert base.png "
                   "-profile " + profiles + "srgb.icc -profile " + profiles + "default_cmyk.icc profiled-cmyk.tif")
                  .exitCode, 0u);
    const ProcessResult run = Convert({At(L"turned.tif"), At(L"profiled-cmyk.tif")}, "TOPNG");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    MakePicture(At(L"turned-upright.png"), Unix(At(L"turned.tif")) + " -auto-orient");
    EXPECT_EQ(Identify(At(L"turned.png")), "PNG 61x97");
    EXPECT_EQ(Compare(At(L"turned-upright.png"), At(L"turned.png"), "AE"), 0.0);
    // Through the profile, as ImageMagick converts it with Little CMS; the
    // inks taken as they are (no profile) would be far off.
    MakePicture(At(L"cmyk-srgb.png"), Unix(At(L"profiled-cmyk.tif")) + " -profile " + profiles + "srgb.icc");
    MakePicture(At(L"cmyk-plain.png"), Unix(At(L"profiled-cmyk.tif")) + " -colorspace sRGB");
    EXPECT_GE(Compare(At(L"cmyk-srgb.png"), At(L"profiled-cmyk.png"), "PSNR"), 28.0);
    EXPECT_LT(Compare(At(L"cmyk-plain.png"), At(L"profiled-cmyk.png"), "PSNR"), 24.0);
    // The CMYK profile no longer describes the result.
    EXPECT_EQ(Host("exiftool -s3 -ProfileDescription " + Unix(At(L"profiled-cmyk.png"))).out, "");
}

TEST_F(PngTiffTest, PngColourChunksAndMetadataReachTheResult) {
    MakePicture(At(L"base.png"), kBase);
    // Linear light (gAMA 1.0): shown on screen it is the base picture again.
    MakePicture(At(L"linear.png"), Unix(At(L"base.png")) + " -colorspace RGB -depth 16");
    ASSERT_EQ(Host("exiftool -s3 -PNG:Gamma " + Unix(At(L"linear.png"))).out, "1\n");
    // iCCP, eXIf, XMP and pHYs.
    ASSERT_EQ(Host("cd " + Unix(Dir()) + " && cp base.png tagged.png && exiftool -q -overwrite_original "
                   "-EXIF:Make=Quennel -XMP-dc:Title=Probe -ICC_Profile'<=/usr/share/color/icc/ghostscript/default_rgb.icc' "
                   "-PNG-pHYs:PixelsPerUnitX=5906 -PNG-pHYs:PixelsPerUnitY=5906 -PNG-pHYs:PixelUnits=meters "
                   "tagged.png").exitCode, 0u);
    ASSERT_EQ(Convert({At(L"linear.png")}, "TOBMP").exitCode, 0u);
    ASSERT_EQ(Convert({At(L"tagged.png")}, "TOJPG").exitCode, 0u);
    EXPECT_GE(Compare(At(L"base.png"), At(L"linear.bmp"), "PSNR"), 40.0);
    const ProcessResult tags =
        Host("exiftool -s3 -Make -Title -ProfileDescription -JFIF:XResolution " + Unix(At(L"tagged.jpg")));
    EXPECT_EQ(tags.out, "Quennel\nProbe\nArtifex Software sRGB ICC Profile\n150\n");
}

TEST_F(PngTiffTest, TiffResultHoldsItsMetadataInItsOneDirectory) {
    MakePicture(At(L"alpha.png"), kAlpha);
    ASSERT_EQ(Host("cd " + Unix(Dir()) + " && exiftool -q -overwrite_original -Make=Quennel -Model=Probe "
                   "-DateTimeOriginal='2024:01:02 03:04:05' -XMP-dc:Title=Probe "
                   "-ICC_Profile'<=/usr/share/color/icc/ghostscript/default_rgb.icc' "
                   "-PNG-pHYs:PixelsPerUnitX=5906 -PNG-pHYs:PixelsPerUnitY=5906 -PNG-pHYs:PixelUnits=meters "
                   "alpha.png").exitCode, 0u);
    ASSERT_EQ(Convert({At(L"alpha.png")}, "TOTIFF").exitCode, 0u);
    const std::string tiff = Unix(At(L"alpha.tif"));
    const ProcessResult info = Host("tiffinfo " + tiff);
    ASSERT_EQ(info.exitCode, 0u) << info.err;
    EXPECT_NE(info.out.find("TIFF directory 0"), std::string::npos);
    EXPECT_EQ(info.out.find("TIFF directory 1"), std::string::npos);
    EXPECT_NE(info.out.find("Extra Samples: 1<unassoc-alpha>"), std::string::npos);
    EXPECT_NE(info.out.find("Compression Scheme: LZW"), std::string::npos);
    EXPECT_EQ(Host("exiftool -s3 -Make -Model -DateTimeOriginal -Title -ProfileDescription -XResolution " + tiff).out,
              "Quennel\nProbe\n2024:01:02 03:04:05\nProbe\nArtifex Software sRGB ICC Profile\n150.01\n");
    // The directory follows the pixels at once: libtiff's own first one was
    // replaced, not left behind unnamed.
    const ProcessResult gap = Host(std::string(kPython) + " -c \"import sys, struct; from PIL import Image; "
                                   "d = open(sys.argv[1], 'rb').read(); t = Image.open(sys.argv[1]).tag_v2; "
                                   "print(struct.unpack('<I', d[4:8])[0] - max(a + b for a, b in zip(t[273], t[279])))\" " +
                                   tiff);
    EXPECT_TRUE(gap.out == "0\n" || gap.out == "1\n") << gap.out << gap.err;
    EXPECT_EQ(Compare(At(L"alpha.png"), At(L"alpha.tif"), "AE"), 0.0);
}
