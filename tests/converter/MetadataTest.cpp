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
    MakePicture(At(L"camera.jpeg"), "-seed 3 -size 240x160 plasma:fractal -blur 0x1 -fill '#20c040' "
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

TEST_F(MetadataTest, BigTiffSaysWhatAClassicTiffSays) {
    // Made by libtiff's tiffcp (camera tags, resolution, orientation) and by
    // ImageMagick (XMP): BigTIFF files, as both tools tell.
    MakePicture(At(L"classic.tif"), "-seed 3 -size 60x40 plasma:fractal -density 300 -units PixelsPerInch "
                                    "-orient RightTop");
    ASSERT_EQ(Host("exiftool -q -overwrite_original -Make=Qca -Model=Q1 -XMP-dc:Title=Hallo " +
                   Unix(At(L"classic.tif"))).exitCode, 0u);
    ASSERT_EQ(Host("tiffcp -8 " + Unix(At(L"classic.tif")) + " " + Unix(At(L"camera.tif"))).exitCode, 0u);
    ASSERT_EQ(Host("exiftool -xmp -b " + Unix(At(L"classic.tif")) + " > " + Unix(At(L"packet.xmp"))).exitCode, 0u);
    ASSERT_EQ(Host("convert " + Unix(At(L"classic.tif")) + " -profile " + Unix(At(L"packet.xmp")) + " TIFF64:" +
                   Unix(At(L"packet.tif"))).exitCode, 0u);
    for (const wchar_t* name : {L"camera.tif", L"packet.tif"})
        ASSERT_EQ(Bytes(At(name)).substr(0, 4), std::string("II+\0", 4)) << Unix(At(name));
    ASSERT_EQ(Convert({At(L"camera.tif"), At(L"packet.tif")}, "TOJPG").exitCode, 0u);
    // Turned upright by the orientation, saying 1 (or nothing) afterwards.
    EXPECT_EQ(Tags(At(L"camera.jpg"), "${Make}|${Model}"), (std::vector<std::string>{"Qca", "Q1"}));
    EXPECT_NEAR(std::atof(Host("identify -units PixelsPerInch -format '%x' " + Unix(At(L"camera.jpg"))).out.c_str()),
                300, 0.5);
    for (const wchar_t* name : {L"camera.jpg", L"packet.jpg"}) {
        EXPECT_EQ(Identify(At(name)), "JPEG 40x60") << Unix(At(name));
        const std::string orientation = Tags(At(name), "${Orientation}")[0];
        EXPECT_TRUE(orientation == "1" || orientation == "-") << orientation;
    }
    EXPECT_EQ(Tags(At(L"packet.jpg"), "${XMP-dc:Title}")[0], "Hallo");
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

namespace {

// Little-endian TIFF pieces for crafted Exif blocks.
std::string Le16(uint32_t v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Entry(uint16_t tag, uint16_t type, uint32_t count, const std::string& inlineValue) {
    return Le16(tag) + Le16(type) + Le32(count) + (inlineValue + std::string(4, '\0')).substr(0, 4);
}

// The JPEG with an APP1 Exif segment holding `block` right after its start.
std::string WithExif(const std::string& jpeg, const std::string& block) {
    const std::string body = std::string("Exif\0\0", 6) + block;
    const size_t length = body.size() + 2;
    return jpeg.substr(0, 2) + "\xFF\xE1" + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + body +
           jpeg.substr(2);
}

// A grey ICC profile of tone curve gamma 1.0 (linear light) and D50 white:
// far enough from sRGB's curve that numbers taken for sRGB look wrong.
std::string LinearGreyProfile() {
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    const std::string d50 = be32(0xF6D6) + be32(0x10000) + be32(0xD32D);
    std::string header = be32(192) + be32(0) + be32(0x02100000) + "mntrGRAYXYZ " + std::string(12, '\0') + "acsp" +
                         std::string(24, '\0') + be32(0) + d50;
    header.resize(128, '\0');
    const std::string tags = be32(2) + "wtpt" + be32(156) + be32(20) + "kTRC" + be32(176) + be32(14);
    const std::string wtpt = "XYZ " + be32(0) + d50;
    const std::string ktrc = std::string("curv") + be32(0) + be32(1) + std::string("\x01\x00\x00\x00", 4);
    return header + tags + wtpt + ktrc;
}

}  // namespace

TEST_F(MetadataTest, OrientationSaysOneExactlyOverTurnedPixels) {
    // Stored 60x40; orientation 6 shows it 40x60, turned a quarter clockwise.
    MakePicture(At(L"plain.jpg"), "-seed 5 -size 60x40 plasma:fractal -fill '#20c040' -draw 'rectangle 4,4 20,12' "
                                  "-strip -quality 95");
    const std::string plain = Bytes(At(L"plain.jpg"));
    ASSERT_FALSE(plain.empty());
    MakePicture(At(L"turned.png"), Unix(At(L"plain.jpg")) + " -rotate 90");
    const std::string make = Entry(0x010F, 2, 4, std::string("Qca\0", 4));

    // SHORT, count 2, value 6: viewers read the first value.
    const std::string header = std::string("II*\0", 4) + Le32(8);
    const std::string twoValues = header + Le16(2) + make + Entry(0x0112, 3, 2, Le16(6) + Le16(0)) + Le32(0);
    // The first directory promises five entries; the block ends after two.
    const std::string cutShort = header + Le16(5) + make + Entry(0x0112, 3, 1, Le16(6));
    ASSERT_TRUE(WriteNewFile(At(L"two.jpg"), WithExif(plain, twoValues)));
    ASSERT_TRUE(WriteNewFile(At(L"cut.jpg"), WithExif(plain, cutShort)));
    // A PNG's eXIf chunk.
    MakePicture(At(L"chunk.png"), Unix(At(L"plain.jpg")));
    ASSERT_EQ(Host("exiftool -q -overwrite_original -Make=Qca -Orientation#=6 " + Unix(At(L"chunk.png"))).exitCode, 0u);
    ASSERT_EQ(Tags(At(L"chunk.png"), "${Orientation}")[0], "6");

    struct Case {
        const wchar_t* source;
        const char* token;
        const wchar_t* result;
    };
    for (const Case& c : {Case{L"two.jpg", "TOPNG", L"two.png"}, Case{L"two.jpg", "TOJPG", L"two (2).jpg"},
                          Case{L"cut.jpg", "TOJPG", L"cut (2).jpg"}, Case{L"cut.jpg", "TOTIFF", L"cut.tif"},
                          Case{L"chunk.png", "TOPNG", L"chunk (2).png"}, Case{L"chunk.png", "TOJPG", L"chunk.jpg"}}) {
        SCOPED_TRACE(Unix(At(c.source)) + " " + c.token);
        const ProcessResult run = Convert({At(c.source)}, c.token);
        ASSERT_EQ(run.exitCode, 0u) << run.err;
        const std::wstring result = At(c.result);
        EXPECT_EQ(Identify(result).substr(Identify(result).find(' ') + 1), "40x60");
        // Unturned, the stored picture scores about 10 against it.
        EXPECT_GE(Compare(At(L"turned.png"), result, "PSNR"), 20.0) << "the pixels turned as orientation 6 asks";
        const std::vector<std::string> seen = Tags(result, "${Make}|${Orientation}");
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0], "Qca") << "the Exif block kept";
        EXPECT_EQ(seen[1], "1") << "turned pixels say 1, or every viewer turns them again";
    }

    // Orientation in XMP alone: no turn, and the packet says 6 still; its
    // size follows the result's.
    MakePicture(At(L"xmp.jpg"), Unix(At(L"plain.jpg")));
    ASSERT_EQ(Host("exiftool -q -overwrite_original -XMP-tiff:Orientation#=6 -XMP-exif:ExifImageWidth=60 "
                   "-XMP-tiff:ImageWidth=60 " + Unix(At(L"xmp.jpg"))).exitCode, 0u);
    CleanSettingsKey settings;
    ASSERT_TRUE(WriteSettingText("SIZEX4", "30"));
    ASSERT_TRUE(WriteSettingText("SIZEY4", "30"));
    const ProcessResult reduced = Convert({At(L"xmp.jpg")}, "RS_4");
    ASSERT_EQ(reduced.exitCode, 0u) << reduced.err;
    const std::wstring small = At(L"xmp (30x30).jpg");
    EXPECT_EQ(Identify(small), "JPEG 30x20");
    EXPECT_EQ(Tags(small, "${XMP-tiff:Orientation}|${XMP-exif:ExifImageWidth}|${XMP-tiff:ImageWidth}|"
                          "${EXIF:Orientation}"),
              (std::vector<std::string>{"6", "30", "30", "-"}));

    // Resolution in Exif only (ImageMagick's JFIF segment gives an aspect, no unit).
    const std::string dpi = header + Le16(3) + Entry(0x011A, 5, 1, Le32(50)) + Entry(0x011B, 5, 1, Le32(50)) +
                            Entry(0x0128, 3, 1, Le16(2)) + Le32(0) + Le32(200) + Le32(1);
    ASSERT_TRUE(WriteNewFile(At(L"dpi.jpg"), WithExif(plain, dpi)));
    const std::vector<std::string> given = Tags(At(L"dpi.jpg"), "${IFD0:XResolution}|${JFIF:ResolutionUnit}");
    ASSERT_EQ(given.size(), 2u);
    ASSERT_EQ(given[0], "200");
    ASSERT_TRUE(given[1] == "0" || given[1] == "-") << "JFIF must give no resolution: " << given[1];
    ASSERT_EQ(Convert({At(L"dpi.jpg")}, "TOPNG").exitCode, 0u);
    EXPECT_NEAR(std::atof(Host("identify -units PixelsPerInch -format '%x' " + Unix(At(L"dpi.png"))).out.c_str()), 200,
                0.5);
}

TEST_F(MetadataTest, ProfilesMatchThePixelsTheyDescribe) {
    Profiles();
    const std::string ghostscript = "/usr/share/color/icc/ghostscript/";
    ASSERT_EQ(Host("test -f " + ghostscript + "default_cmyk.icc").exitCode, 0u) << "Ghostscript's profiles are needed";
    MakePicture(At(L"rgb.png"), "-seed 7 -size 90x60 plasma:fractal -blur 0x1");

    // CMYK through its profile (ImageMagick writes Adobe's inverted kind):
    // the result is sRGB and carries no CMYK profile.
    MakePicture(At(L"cmyk.jpg"), Unix(At(L"rgb.png")) + " -profile " + srgb_ + " -profile " + ghostscript +
                                     "default_cmyk.icc -quality 98");
    ASSERT_EQ(Tags(At(L"cmyk.jpg"), "${ColorSpaceData}|${APP14:ColorTransform}")[0], "CMYK");
    Shown(At(L"cmyk.jpg"), At(L"cmyk-shown.png"));
    MakePicture(At(L"cmyk-naive.png"), Unix(At(L"cmyk.jpg")) + " +profile '*' -colorspace sRGB -depth 8");
    ASSERT_LT(Compare(At(L"cmyk-shown.png"), At(L"cmyk-naive.png"), "PSNR"), 24.0) << "the profile must matter";
    for (const char* token : {"TOPNG", "TOJPG", "TOTIFF", "TOJPEG2000", "TOBMP"}) {
        SCOPED_TRACE(token);
        ASSERT_EQ(Convert({At(L"cmyk.jpg")}, token).exitCode, 0u);
    }
    for (const wchar_t* name : {L"cmyk.png", L"cmyk (2).jpg", L"cmyk.tif", L"cmyk.jp2", L"cmyk.bmp"}) {
        SCOPED_TRACE(Unix(At(name)));
        EXPECT_EQ(Tags(At(name), "${ColorSpaceData}")[0], "-");
        Shown(At(name), At(L"result-shown.png"));
        const double psnr = std::wstring(name).find(L".jpg") != std::wstring::npos ? 27.0 : 30.0;
        EXPECT_GE(Compare(At(L"cmyk-shown.png"), At(L"result-shown.png"), "PSNR"), psnr);
    }
    // The same inks in a Photoshop file, through its own profile too; its
    // Exif orientation (6: turned right) turns the result, which says 1.
    MakePicture(At(L"ink.psd"), Unix(At(L"rgb.png")) + " -profile " + srgb_ + " -profile " + ghostscript +
                                    "default_cmyk.icc");
    ASSERT_EQ(Host("exiftool -q -overwrite_original -n -Orientation=6 " + Unix(At(L"ink.psd"))).exitCode, 0u);
    ASSERT_EQ(Tags(At(L"ink.psd"), "${ColorSpaceData}|${Orientation}"), (std::vector<std::string>{"CMYK", "6"}));
    ASSERT_EQ(Convert({At(L"ink.psd")}, "TOJPG").exitCode, 0u);
    EXPECT_EQ(Identify(At(L"ink.jpg")), "JPEG 60x90");
    const std::vector<std::string> ink = Tags(At(L"ink.jpg"), "${ColorSpaceData}|${Orientation}");
    EXPECT_TRUE(ink[1] == "1" || ink[1] == "-") << "an orientation left over turned pixels: " << ink[1];
    MakePicture(At(L"ink-shown.png"), Unix(At(L"ink.psd")) + " -profile " + srgb_ + " -rotate 90 -depth 8 -alpha off");
    EXPECT_GE(Compare(At(L"ink-shown.png"), At(L"ink.jpg"), "PSNR"), 27.0);

    // Grey with a grey profile: converted through it, grey still, no profile.
    const std::wstring linear = At(L"linear-grey.icc");
    ASSERT_TRUE(WriteNewFile(linear, LinearGreyProfile()));
    MakePicture(At(L"grey.jpg"), "-size 90x60 gradient:black-white -colorspace Gray -quality 98 -profile " +
                                     Unix(linear));
    ASSERT_EQ(Tags(At(L"grey.jpg"), "${ColorSpaceData}")[0], "GRAY");
    MakePicture(At(L"grey-shown.png"), Unix(At(L"grey.jpg")) + " -profile " + srgb_ + " -depth 8");
    MakePicture(At(L"grey-raw.png"), Unix(At(L"grey.jpg")) + " +profile '*' -depth 8");
    ASSERT_LT(Compare(At(L"grey-shown.png"), At(L"grey-raw.png"), "PSNR"), 24.0) << "the profile must matter";
    ASSERT_EQ(Convert({At(L"grey.jpg")}, "TOPNG").exitCode, 0u);
    EXPECT_EQ(Tags(At(L"grey.png"), "${ColorType}|${ColorSpaceData}"), (std::vector<std::string>{"0", "-"}));
    EXPECT_GE(Compare(At(L"grey-shown.png"), At(L"grey.png"), "PSNR"), 35.0);

    // An all-grey RGB picture with a wide-gamut profile: written as grey, so
    // made sRGB instead of carrying the RGB profile.
    MakePicture(At(L"wide-grey.png"), "-size 90x60 gradient:gray10-gray90 -type TrueColor -define png:color-type=2 "
                                      "-profile " + proPhoto_);
    ASSERT_EQ(Tags(At(L"wide-grey.png"), "${ColorType}|${ColorSpaceData}"), (std::vector<std::string>{"2", "RGB "}));
    Shown(At(L"wide-grey.png"), At(L"wide-grey-shown.png"));
    ASSERT_EQ(Convert({At(L"wide-grey.png")}, "TOPNG").exitCode, 0u);
    const std::vector<std::string> wide = Tags(At(L"wide-grey (2).png"), "${ColorType}|${ColorSpaceData}");
    ASSERT_EQ(wide.size(), 2u);
    EXPECT_TRUE((wide[0] == "0" && wide[1] == "-") || (wide[0] != "0" && wide[1] != "GRAY")) << wide[0] << wide[1];
    Shown(At(L"wide-grey (2).png"), At(L"wide-result-shown.png"));
    EXPECT_GE(Compare(At(L"wide-grey-shown.png"), At(L"wide-result-shown.png"), "PSNR"), 35.0);

    // JP2's restricted label for a matrix profile. A profile a plain JP2
    // file cannot label (here: of a printer) goes, its pixels made sRGB:
    // OpenJPEG's and ImageMagick's readings of the result show the colours
    // the source shows.
    MakePicture(At(L"wide.png"), Unix(At(L"rgb.png")) + " -profile " + proPhoto_);
    const std::string wideProfile = Bytes(At(L"icc\\usr\\share\\color\\icc\\colord\\ProPhotoRGB.icc"));
    ASSERT_GT(wideProfile.size(), 128u);
    std::string printer = wideProfile;
    printer.replace(12, 4, "prtr");
    ASSERT_TRUE(WriteNewFile(At(L"printer.icc"), printer));
    MakePicture(At(L"print.png"), Unix(At(L"rgb.png")) + " -profile " + Unix(At(L"printer.icc")));
    Shown(At(L"print.png"), At(L"print-shown.png"));
    ASSERT_LT(Compare(At(L"print-shown.png"), At(L"rgb.png"), "PSNR"), 30.0) << "the profile must matter";
    for (const bool matrix : {true, false}) {
        const std::wstring name = matrix ? L"wide" : L"print";
        ASSERT_EQ(Convert({At(name + L".png")}, "TOJPEG2000").exitCode, 0u);
        const std::string jp2 = Bytes(At(name + L".jp2"));
        const size_t colr = jp2.find("colr");
        ASSERT_NE(colr, std::string::npos);
        if (matrix) {
            EXPECT_EQ(jp2[colr + 4], 2) << "the colour box's method";
            EXPECT_EQ(jp2.compare(colr + 7, wideProfile.size(), wideProfile), 0) << "the profile follows";
            continue;
        }
        EXPECT_EQ(jp2[colr + 4], 1) << "an enumerated colour space, no profile";
        ASSERT_EQ(Host("opj_decompress -quiet -i " + Unix(At(L"print.jp2")) + " -o " + Unix(At(L"print-opj.png"))).exitCode, 0u);
        EXPECT_GE(Compare(At(L"print-shown.png"), At(L"print-opj.png"), "PSNR"), 35.0) << "as OpenJPEG shows it";
        MakePicture(At(L"print-im.png"), Unix(At(L"print.jp2")) + " -depth 8");
        EXPECT_GE(Compare(At(L"print-shown.png"), At(L"print-im.png"), "PSNR"), 35.0) << "as ImageMagick shows it";
    }
}
