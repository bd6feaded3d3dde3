// What a photo carries besides its pixels, judged by the host's exiftool and
// ImageMagick with Little CMS: a camera-like JPEG (Exif with camera, date,
// place, orientation "turned" and a thumbnail; XMP; a wide-gamut profile;
// 300 dpi) through the real transform.exe into every format that shows
// colours. Also what reducing and GIF's palette must not lose.
#include "ConverterFixture.h"

#include <cmath>
#include <cstdlib>

#include "support/SettingsKey.h"

namespace {

struct Target {
    const char* token;
    const wchar_t* extension;
    bool keepsTags;      // Exif and XMP
    bool keepsProfile;   // else the pixels are converted into sRGB
    bool keepsDpi;
    double psnr;         // of the result as shown against the source as shown
};

// Lossless formats still differ from ImageMagick's own decode of the JPEG
// source and its colour conversion by a level here and there; GIF and RLE
// dither onto 256 colours, JPEG loses a little once more (errors grow on
// the way from the wide gamut into sRGB).
const Target kTargets[] = {
    {"TOJPG", L".jpg", true, true, true, 27},       {"TOPNG", L".png", true, true, true, 33},
    {"TOTIFF", L".tif", true, true, true, 33},      {"TOJPEG2000", L".jp2", false, true, false, 33},
    {"TOBMP", L".bmp", false, false, true, 33},     {"TODIB", L".dib", false, false, true, 33},
    {"TORLE", L".rle", false, false, true, 24},     {"TOPCX", L".pcx", false, false, true, 33},
    {"TOGIF", L".gif", false, false, false, 24},    {"TOJPEG2000CS", L".j2k", false, false, false, 33},
};

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator) parts.emplace_back();
        else if (c != '\n' && c != '\r') parts.back() += c;
    }
    return parts;
}

}  // namespace

class MetadataTest : public ConverterFixture {
protected:
    // Debian's colour profiles (colord-data), unpacked into the test's folder:
    // the profiles are data, not something the converter ships.
    void Profiles() {
        const ProcessResult got = Host("cd " + Unix(Dir()) +
                                       " && apt-get download colord-data >/dev/null 2>&1 && dpkg -x colord-data_*.deb icc");
        ASSERT_EQ(got.exitCode, 0u) << "apt-get download colord-data: " << got.err;
        proPhoto_ = Unix(Dir()) + "/icc/usr/share/color/icc/colord/ProPhotoRGB.icc";
        srgb_ = Unix(Dir()) + "/icc/usr/share/color/icc/colord/sRGB.icc";
    }
    // "a|b|c": exiftool's values of the tags, "-" for each one missing.
    static std::vector<std::string> Tags(const std::wstring& path, const std::string& tags) {
        return Split(Host("exiftool -m -f -n -p '" + tags + "' " + Unix(path)).out, '|');
    }
    // The picture as a colour-managed viewer shows it: through its own
    // profile into sRGB (a file without one counts as sRGB already).
    void Shown(const std::wstring& from, const std::wstring& to, const std::string& extra = "") {
        MakePicture(to, Unix(from) + extra + " -profile " + srgb_ + " -depth 8 -alpha off");
    }
    std::string proPhoto_, srgb_;
};

TEST_F(MetadataTest, PhotoKeepsCameraDatePlaceProfileAndResolution) {
    Profiles();
    // Stored 240x160 on its side (orientation 6): shown 160x240.
    MakePicture(At(L"thumb.jpg"), "-size 24x16 xc:red");
    MakePicture(At(L"camera.jpeg"), "-size 240x160 plasma:fractal -seed 3 -blur 0x1 -fill '#20c040' "
                                  "-draw 'rectangle 10,10 60,40' -units PixelsPerInch -density 300 -quality 95 "
                                  "-profile " + proPhoto_);
    const ProcessResult tagged =
        Host("exiftool -q -overwrite_original -Make=Quennelcam '-Model=QC 12' "
             "'-DateTimeOriginal=2024:05:17 14:33:09' -GPSLatitude=52.5163 -GPSLatitudeRef=N "
             "-GPSLongitude=13.3777 -GPSLongitudeRef=E -Orientation#=6 '-ThumbnailImage<=" + Unix(At(L"thumb.jpg")) +
             "' '-XMP-dc:Title=Brandenburger Tor' -XMP-tiff:Orientation#=6 " + Unix(At(L"camera.jpeg")));
    ASSERT_EQ(tagged.exitCode, 0u) << tagged.err;
    ASSERT_EQ(Tags(At(L"camera.jpeg"), "${Orientation}|${ThumbnailLength}")[0], "6");
    Shown(At(L"camera.jpeg"), At(L"shown.png"), " -auto-orient");
    // The raw numbers taken for sRGB look visibly wrong: what keeping the
    // profile or converting is for.
    MakePicture(At(L"raw.png"), Unix(At(L"camera.jpeg")) + " -auto-orient +profile '*' -depth 8");
    ASSERT_LT(Compare(At(L"shown.png"), At(L"raw.png"), "PSNR"), 22.0);

    const std::string tags = "${Make}|${Model}|${DateTimeOriginal}|${GPSLatitude}|${GPSLongitude}|${Orientation}|"
                             "${ThumbnailLength}|${XMP-dc:Title}|${XMP-tiff:Orientation}|${ProfileDescription}";
    for (const Target& target : kTargets) {
        SCOPED_TRACE(target.token);
        const ProcessResult run = Convert({At(L"camera.jpeg")}, target.token);
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        const std::wstring result = At(std::wstring(L"camera") + target.extension);
        EXPECT_EQ(Identify(result).substr(Identify(result).find(' ') + 1), "160x240");

        const std::vector<std::string> seen = Tags(result, tags);
        ASSERT_EQ(seen.size(), 10u) << Host("exiftool " + Unix(result)).out;
        if (target.keepsTags) {
            EXPECT_EQ(seen[0], "Quennelcam");
            EXPECT_EQ(seen[1], "QC 12");
            EXPECT_EQ(seen[2], "2024:05:17 14:33:09");
            EXPECT_NEAR(std::atof(seen[3].c_str()), 52.5163, 1e-4) << seen[3];
            EXPECT_NEAR(std::atof(seen[4].c_str()), 13.3777, 1e-4) << seen[4];
            EXPECT_EQ(seen[5], "1") << "the orientation of the upright pixels";
            EXPECT_EQ(seen[6], "-") << "the thumbnail of the picture as it was";
            EXPECT_EQ(seen[7], "Brandenburger Tor");
            EXPECT_EQ(seen[8], "1");
        }
        EXPECT_EQ(seen[9], target.keepsProfile ? "ProPhoto RGB" : "-");
        if (target.keepsDpi) {
            const std::vector<std::string> dpi =
                Split(Host("identify -units PixelsPerInch -format '%x|%y' " + Unix(result)).out, '|');
            ASSERT_EQ(dpi.size(), 2u);
            EXPECT_NEAR(std::atof(dpi[0].c_str()), 300, 0.5) << dpi[0];
            EXPECT_NEAR(std::atof(dpi[1].c_str()), 300, 0.5) << dpi[1];
        }
        const std::wstring shown = At(std::wstring(L"shown-") + (target.extension + 1) + L".png");
        Shown(result, shown);
        EXPECT_GE(Compare(At(L"shown.png"), shown, "PSNR"), target.psnr);
    }
}

TEST_F(MetadataTest, GifKeepsTransparencyAsOnePaletteEntry) {
    // A transparent GIF to GIF, and reduced by a preset that keeps GIF: seen
    // on magenta, the results look like the source, not like it on white.
    CleanSettingsKey settings;
    ASSERT_TRUE(WriteSettingText("SIZEX4", "30"));
    ASSERT_TRUE(WriteSettingText("SIZEY4", "30"));
    MakePicture(At(L"clear.gif"), "-size 60x40 xc:none +antialias -fill '#3070c0' -draw 'circle 30,20 30,4' "
                                  "-fill '#e0a020' -draw 'rectangle 0,0 15,10'");
    ProcessResult run = Convert({At(L"clear.gif")}, "TOGIF");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    run = Convert({At(L"clear.gif")}, "RS_4");
    EXPECT_EQ(run.exitCode, 0u) << run.err;

    const auto onMagenta = [&](const std::wstring& from, const std::wstring& to, const std::string& size) {
        MakePicture(to, Unix(from) + size + " -background magenta -flatten -depth 8");
    };
    onMagenta(At(L"clear.gif"), At(L"source-on-magenta.png"), "");
    onMagenta(At(L"clear (2).gif"), At(L"result-on-magenta.png"), "");
    EXPECT_GE(Compare(At(L"source-on-magenta.png"), At(L"result-on-magenta.png"), "PSNR"), 30.0);
    // Reduced, edges are half transparent and fall to one side: the shares of
    // transparent pixels agree, and what shows matches on the whole.
    ASSERT_EQ(Identify(At(L"clear (30x30).gif")), "GIF 30x20");
    onMagenta(At(L"clear.gif"), At(L"source-small.png"), " -filter Catrom -resize 30x20");
    onMagenta(At(L"clear (30x30).gif"), At(L"result-small.png"), "");
    EXPECT_GE(Compare(At(L"source-small.png"), At(L"result-small.png"), "PSNR"), 15.0);
    const auto clearShare = [&](const std::wstring& path) {
        return std::atof(Host("convert " + Unix(path) + " -alpha extract -format '%[fx:1-mean]' info:").out.c_str());
    };
    EXPECT_NEAR(clearShare(At(L"clear (30x30).gif")), clearShare(At(L"clear.gif")), 0.05);
    EXPECT_GT(clearShare(At(L"clear (30x30).gif")), 0.2);
}
