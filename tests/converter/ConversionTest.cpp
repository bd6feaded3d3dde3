// Every conversion token of the WIC-written formats on every common source
// format, and the resize presets, judged by ImageMagick on the host.
#include "ConverterFixture.h"

#include <cstdio>

#include "support/SettingsKey.h"

namespace {

struct Target {
    const char* token;
    const wchar_t* extension;
    const char* decodedAs;  // identify's name of the format
    bool lossless;
};

const Target kTargets[] = {
    {"TOPNG", L".png", "PNG", true},   {"TOBMP", L".bmp", "BMP3", true}, {"TODIB", L".dib", "BMP3", true},
    {"TOTIFF", L".tif", "TIFF", true}, {"TOJPG", L".jpg", "JPEG", false}, {"TOGIF", L".gif", "GIF", false},
};

struct SourceFile {
    const wchar_t* name;
    bool exact;  // decodes to the same pixels everywhere (not JPEG)
};

const SourceFile kSources[] = {
    {L"png-source.png", true}, {L"jpg-source.jpg", false}, {L"gif-source.gif", true},
    {L"bmp-source.bmp", true}, {L"tif-source.tif", true},
};

// The name a result gets: the source's stem and the target's extension, or
// the first numbered name when the source itself has that name.
std::wstring ResultName(const std::wstring& source, const wchar_t* extension) {
    const std::wstring stem = source.substr(0, source.find_last_of(L'.'));
    const std::wstring plain = stem + extension;
    return plain == source ? stem + L" (2)" + extension : plain;
}

}  // namespace

class ConversionTest : public ConverterFixture {};

TEST_F(ConversionTest, EveryTokenOnEverySourceFormat) {
    // An odd width and height, smooth colour and a sharp edge; 8 bits a channel.
    const std::string picture = "-size 97x61 gradient:'#2060c0'-'#f0d040' -fill '#102010' "
                                "-draw 'rectangle 10,10 40,30' -depth 8";
    std::vector<std::wstring> list;
    for (const SourceFile& source : kSources) {
        MakePicture(At(source.name), picture + (source.name[0] == L'j' ? " -quality 95" : ""));
        list.push_back(At(source.name));
    }
    // Transparency: kept where the format has it, onto white where not.
    MakePicture(At(L"alpha.png"), "-size 40x30 xc:none +antialias -fill '#c02020' -draw 'circle 20,15 20,5'");
    MakePicture(At(L"alpha-on-white.png"), Unix(At(L"alpha.png")) + " -background white -flatten");
    list.push_back(At(L"alpha.png"));

    for (const Target& target : kTargets) {
        SCOPED_TRACE(target.token);
        const ProcessResult run = Convert(list, target.token);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_NE(run.err.find("6 Dateien wurden umgewandelt."), std::string::npos) << run.err;
        for (const SourceFile& source : kSources) {
            const std::wstring result = At(ResultName(source.name, target.extension));
            SCOPED_TRACE(Utf8FromWide(result));
            ASSERT_EQ(Identify(result), std::string(target.decodedAs) + " 97x61");
            if (target.lossless && source.exact)
                EXPECT_EQ(Compare(At(source.name), result, "AE"), 0.0);
            else
                EXPECT_GE(Compare(At(source.name), result, "PSNR"), target.lossless ? 40.0 : 28.0);
        }
        const std::wstring alpha = At(ResultName(L"alpha.png", target.extension));
        // GIF keeps it as one transparent palette entry.
        const std::wstring extension = target.extension;
        const bool keepsAlpha = extension == L".png" || extension == L".tif" || extension == L".gif";
        const std::wstring expected = At(keepsAlpha ? L"alpha.png" : L"alpha-on-white.png");
        if (target.lossless)
            EXPECT_EQ(Compare(expected, alpha, "AE"), 0.0);
        else
            EXPECT_GE(Compare(expected, alpha, "PSNR"), 25.0);
    }
}

TEST_F(ConversionTest, ResizePresetsFitNeverEnlargeAndKeepTheFormat) {
    CleanSettingsKey settings;
    MakePicture(At(L"wide.jpg"), "-size 1000x500 gradient:navy-orange -quality 92");
    MakePicture(At(L"small.png"), "-size 150x40 gradient:green-yellow -depth 8");
    MakePicture(At(L"photo.png"), "-seed 7 -size 1600x1200 plasma:fractal -blur 0x2 -depth 8");
    MakePicture(At(L"other.tga"), "-size 640x480 gradient:red-blue -depth 8");  // we read, cannot write
    MakePicture(At(L"clear.tga"), "-size 64x48 gradient:'rgba(255,0,0,1)-rgba(0,0,255,0.2)' -depth 8");
    // Decoded at a quarter of its size already (two resolution levels
    // skipped), and still fitted as the whole picture is: 200x100, not 201x100.
    MakePicture(At(L"odd.jp2"), "-size 1001x500 gradient:navy-orange -depth 8");

    // The menu's integer rule: "$64" is hexadecimal 100.
    ASSERT_TRUE(WriteSettingText("SIZEX3", "300"));
    ASSERT_TRUE(WriteSettingText("SIZEY3", "$64"));
    ProcessResult run =
        Convert({At(L"wide.jpg"), At(L"small.png"), At(L"other.tga"), At(L"odd.jp2"), At(L"clear.tga")}, "RS_3");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"wide (300x100).jpg")), "JPEG 200x100");
    EXPECT_EQ(Identify(At(L"small (300x100).png")), "PNG 150x40");
    EXPECT_EQ(Compare(At(L"small.png"), At(L"small (300x100).png"), "AE"), 0.0);
    // A kind we do not write keeps "its own format" as JPEG, or as PNG where
    // it is transparent; the report says so.
    EXPECT_EQ(Identify(At(L"other (300x100).jpg")), "JPEG 133x100");
    EXPECT_EQ(Identify(At(L"clear (300x100).png")), "PNG 64x48");
    EXPECT_NE(run.err.find("1 Datei (TGA) wurde als JPEG gespeichert"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1 Datei (TGA) wurde als PNG gespeichert"), std::string::npos) << run.err;
    EXPECT_EQ(Identify(At(L"odd (300x100).jp2")), "JP2 200x100");
    MakePicture(At(L"odd-reference.png"), Unix(At(L"odd.jp2")) + " -filter Catrom -resize 200x100! -depth 8");
    EXPECT_GE(Compare(At(L"odd-reference.png"), At(L"odd (300x100).jp2"), "PSNR"), 35.0);

    // Preset 1 with the menu's default size; a quality close to ImageMagick's
    // own bicubic reduction of the same picture.
    run = Convert({At(L"photo.png")}, "RS_1");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"photo (800x600).png")), "PNG 800x600");
    MakePicture(At(L"reference.png"), Unix(At(L"photo.png")) + " -filter Catrom -resize 800x600 -depth 8");
    EXPECT_GE(Compare(At(L"reference.png"), At(L"photo (800x600).png"), "PSNR"), 35.0);

    // Zero, negative and unset sizes: refused, nothing written.
    ASSERT_TRUE(WriteSettingText("SIZEX2", "0"));
    ASSERT_TRUE(WriteSettingText("SIZEY4", "-5"));
    const std::vector<std::wstring> before = Names(Dir());
    for (const char* token : {"RS_2", "RS_4", "RS_7"}) {
        run = Convert({At(L"wide.jpg")}, token);
        EXPECT_EQ(run.exitCode, 2u) << token;
        EXPECT_NE(run.err.find("ungültig"), std::string::npos) << token << ": " << run.err;
    }
    EXPECT_EQ(Names(Dir()), before);
}

TEST_F(ConversionTest, AnimationsAndPagesGiveTheirFirstFrame) {
    MakePicture(At(L"anim.gif"), "-delay 20 -size 24x16 xc:'#c03030' xc:'#3030c0' xc:'#30c030'");
    MakePicture(At(L"pages.tif"), "-size 24x16 xc:'#208080' xc:'#808020' -depth 8");
    MakePicture(At(L"anim-first.png"), Unix(At(L"anim.gif")) + "[0]");
    MakePicture(At(L"pages-first.png"), Unix(At(L"pages.tif")) + "[0]");
    const ProcessResult run = Convert({At(L"anim.gif"), At(L"pages.tif")}, "TOBMP");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Compare(At(L"anim-first.png"), At(L"anim.bmp"), "AE"), 0.0);
    EXPECT_EQ(Compare(At(L"pages-first.png"), At(L"pages.bmp"), "AE"), 0.0);
}

TEST_F(ConversionTest, CameraOrientationIsTurnedUpright) {
    // A photo stored on its side, with the Exif tag that says "turn a quarter
    // clockwise to show" (6), as cameras held upright write it.
    MakePicture(At(L"stored.jpg"), "-size 60x40 gradient:'#ff0000'-'#0000ff' -fill white "
                                   "-draw 'rectangle 0,0 14,9' -quality 98");
    const std::string jpeg = Bytes(At(L"stored.jpg"));
    ASSERT_GT(jpeg.size(), 2u);
    const std::string tiff("MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 26);
    const std::string body = std::string("Exif\0\0", 6) + tiff;
    const size_t length = body.size() + 2;
    const std::string app1 = std::string("\xFF\xE1", 2) + static_cast<char>(length >> 8) +
                             static_cast<char>(length & 0xFF) + body;
    const std::string tagged = jpeg.substr(0, 2) + app1 + jpeg.substr(2);
    const HANDLE file = CreateFileW(At(L"photo.jpg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, tagged.data(), static_cast<DWORD>(tagged.size()), &written, nullptr);
    CloseHandle(file);
    MakePicture(At(L"upright.png"), Unix(At(L"photo.jpg")) + " -auto-orient");
    ASSERT_EQ(Identify(At(L"upright.png")), "PNG 40x60") << "ImageMagick does not read the tag";

    ProcessResult run = Convert({At(L"photo.jpg")}, "TOPNG");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"photo.png")), "PNG 40x60");
    EXPECT_GE(Compare(At(L"upright.png"), At(L"photo.png"), "PSNR"), 35.0);

    // A TIFF says it in its own first directory, read from the file and not
    // through the platform's metadata reader, which dies on a TIFF whose
    // directories loop: here the second directory is the first again.
    MakePicture(At(L"stored.tif"), "-size 60x40 gradient:'#00ff00'-'#ff00ff' -fill black "
                                   "-draw 'rectangle 0,0 14,9' -orient RightTop -depth 8 -compress none");
    MakePicture(At(L"upright-tif.png"), Unix(At(L"stored.tif")) + " -auto-orient");
    ASSERT_EQ(Identify(At(L"upright-tif.png")), "PNG 40x60") << "ImageMagick wrote no orientation tag";
    std::string tif = Bytes(At(L"stored.tif"));
    ASSERT_EQ(tif.compare(0, 4, std::string("II*\0", 4)), 0) << "a little-endian TIFF";
    const auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<uint8_t>(tif[at]) | static_cast<uint8_t>(tif[at + 1]) << 8 |
                                     static_cast<uint8_t>(tif[at + 2]) << 16 | static_cast<uint8_t>(tif[at + 3]) << 24);
    };
    const uint32_t first = u32(4);
    ASSERT_LT(first + 2u, tif.size());
    const size_t next = first + 2 + 12 * (static_cast<uint8_t>(tif[first]) | static_cast<uint8_t>(tif[first + 1]) << 8);
    ASSERT_LE(next + 4, tif.size());
    tif.replace(next, 4, tif.substr(4, 4));
    ASSERT_TRUE(WriteNewFile(At(L"looped.tif"), tif));
    run = Convert({At(L"stored.tif"), At(L"looped.tif")}, "TOPNG");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    for (const wchar_t* name : {L"stored.png", L"looped.png"}) {
        EXPECT_EQ(Identify(At(name)), "PNG 40x60") << Utf8FromWide(name);
        EXPECT_GE(Compare(At(L"upright-tif.png"), At(name), "PSNR"), 35.0) << Utf8FromWide(name);
    }

    // A preset fits the upright picture: 40x60 into 30x30 gives 20x30.
    CleanSettingsKey settings;
    ASSERT_TRUE(WriteSettingText("SIZEX6", "30"));
    ASSERT_TRUE(WriteSettingText("SIZEY6", "30"));
    run = Convert({At(L"photo.jpg")}, "RS_6");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"photo (30x30).jpg")), "JPEG 20x30");
}

TEST_F(ConversionTest, ReducingSmoothsFineLinesFlat) {
    // Lines one pixel wide every third column and row, shrunk 7 times: a
    // filter that reads every source pixel (widened by the reduction) gives
    // an even grey; one of fixed width samples a few columns and bands. A
    // PNG, so no decoder reduces first and leaves the resampler less to do.
    CleanSettingsKey settings;
    ASSERT_TRUE(WriteSettingText("SIZEX5", "100"));
    ASSERT_TRUE(WriteSettingText("SIZEY5", "100"));
    MakePicture(At(L"lines.png"), "-size 700x700 xc: -fx '(i%3==0)||(j%3==0)' -depth 8");
    const ProcessResult run = Convert({At(L"lines.png")}, "RS_5");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::wstring reduced = At(L"lines (100x100).png");
    ASSERT_EQ(Identify(reduced), "PNG 100x100");
    // The darkest and the lightest level inside the one-pixel border.
    const std::string range =
        Host("convert " + Unix(reduced) + " -shave 1x1 -colorspace gray -format '%[fx:minima*255] %[fx:maxima*255]' "
             "info:").out;
    double darkest = -1, lightest = -1;
    ASSERT_EQ(std::sscanf(range.c_str(), "%lf %lf", &darkest, &lightest), 2) << range;
    EXPECT_LE(lightest - darkest, 4.0) << range;
}
