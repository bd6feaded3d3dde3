// Camera raw through the real transform.exe, judged by LibRaw's own
// dcraw_emu (camera white balance, sRGB) and exiftool; the wizard's WebP
// results judged by ImageMagick. The raw is a DNG made by the format's
// documented layout (tests/support/craft_dng.py): a small preview first, as
// cameras write it, the Bayer mosaic behind it, stored turned.
#include <string>
#include <vector>

#include "ConverterFixture.h"
#include "support/SettingsKey.h"

class RawWebpTest : public ConverterFixture {
protected:
    void Craft(const std::wstring& path, const std::string& options) {
        const ProcessResult made =
            Host("/usr/bin/python3 " QUENNEL_SOURCE_DIR "/tests/support/craft_dng.py " + Unix(path) + " " + options);
        ASSERT_EQ(made.exitCode, 0u) << made.err;
    }
    // dcraw_emu's development of the raw, as a PNG.
    void Reference(const std::wstring& raw, const std::wstring& png) {
        const ProcessResult made = Host("dcraw_emu -w -o 1 -T -Z " + Unix(png) + ".tiff " + Unix(raw) + " && convert " +
                                        Unix(png) + ".tiff " + Unix(png));
        ASSERT_EQ(made.exitCode, 0u) << made.err;
    }
    // exiftool's values of these tags, one a line.
    std::string Tags(const std::wstring& path, const std::string& tags) {
        return Host("exiftool -s -s -s -n " + tags + " " + Unix(path)).out;
    }
};

TEST_F(RawWebpTest, RawIsDevelopedAtFullSizeTurnedWithItsExifNeverItsPreview) {
    Craft(At(L"turned.dng"), "--orientation 6");
    Craft(At(L"upright.nef"), "--width 200 --height 150");  // a raw's name: LibRaw decides, not libtiff
    Craft(At(L"broken.dng"), "--compression 65000");         // libtiff would show its 80x60 preview
    Reference(At(L"turned.dng"), At(L"turned-ref.png"));
    Reference(At(L"upright.nef"), At(L"upright-ref.png"));

    ProcessResult run = Convert({At(L"turned.dng"), At(L"upright.nef"), At(L"broken.dng")}, "TOPNG");
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    EXPECT_EQ(Identify(At(L"turned.png")), "PNG 240x320");
    EXPECT_EQ(Identify(At(L"upright.png")), "PNG 200x150");
    EXPECT_GE(Compare(At(L"turned-ref.png"), At(L"turned.png"), "PSNR"), 45.0);
    EXPECT_GE(Compare(At(L"upright-ref.png"), At(L"upright.png"), "PSNR"), 45.0);
    EXPECT_TRUE(Identify(At(L"broken.png")).empty());
    EXPECT_NE(run.err.find("broken.dng: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Kamera-Rohdaten"), std::string::npos) << run.err;

    // What the camera recorded, in the JPEG's Exif; upright pixels say 1.
    run = Convert({At(L"turned.dng")}, "TOJPG");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"turned.jpg")), "JPEG 240x320");
    EXPECT_EQ(Tags(At(L"turned.jpg"), "-Make -Model -ExposureTime -FNumber -ISO -FocalLength -DateTimeOriginal"),
              "Quennel\nTestkamera 1\n0.004\n5.6\n400\n35\n2024:05:17 14:03:09\n");
    const std::string orientation = Tags(At(L"turned.jpg"), "-Orientation");
    EXPECT_TRUE(orientation.empty() || orientation == "1\n") << orientation;

    // A preset's box: developed at half the sensor's size where that still
    // holds the fit, and fitted as the whole raw would be. A raw is kept
    // "in its own format", which we do not write, as JPEG, and the report
    // says so.
    ASSERT_TRUE(WriteSettingText("SIZEX3", "100"));
    ASSERT_TRUE(WriteSettingText("SIZEY3", "100"));
    run = Convert({At(L"turned.dng")}, "RS_3");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"turned (100x100).jpg")), "JPEG 75x100");
    MakePicture(At(L"turned-ref-small.png"), Unix(At(L"turned-ref.png")) + " -resize 75x100!");
    EXPECT_GE(Compare(At(L"turned-ref-small.png"), At(L"turned (100x100).jpg"), "PSNR"), 28.0);
    EXPECT_NE(run.err.find("1 Datei (Kamera-Rohdaten) wurde als JPEG gespeichert"), std::string::npos) << run.err;
}

TEST_F(RawWebpTest, WizardWritesWebpLossyAndLosslessWithMetadata) {
    MakePicture(At(L"photo.png"), "-seed 3 -size 320x240 plasma:fractal -blur 0x1 -depth 8");
    MakePicture(At(L"alpha.png"), "-size 96x64 gradient:'rgba(255,0,0,1)-rgba(0,0,255,0.25)' -depth 8");
    ProcessResult run = Convert({At(L"photo.png"), At(L"alpha.png")}, "TOWEBP");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"photo.webp")), "WEBP 320x240");
    EXPECT_GE(Compare(At(L"photo.png"), At(L"photo.webp"), "PSNR"), 30.0);
    EXPECT_GE(Compare(At(L"alpha.png"), At(L"alpha.webp"), "PSNR"), 30.0);
    // Its transparency kept.
    MakePicture(At(L"alpha-of-png.png"), Unix(At(L"alpha.png")) + " -alpha extract");
    MakePicture(At(L"alpha-of-webp.png"), Unix(At(L"alpha.webp")) + " -alpha extract");
    EXPECT_GE(Compare(At(L"alpha-of-png.png"), At(L"alpha-of-webp.png"), "PSNR"), 40.0);

    // Lossless: every pixel, transparency included, as it was.
    for (const wchar_t* name : {L"photo", L"alpha"}) DeleteFileW(At(std::wstring(name) + L".webp").c_str());
    run = Convert({At(L"photo.png"), At(L"alpha.png")}, "TOWEBPLOSSLESS");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Compare(At(L"photo.png"), At(L"photo.webp"), "AE"), 0.0);
    EXPECT_EQ(Compare(At(L"alpha.png"), At(L"alpha.webp"), "AE"), 0.0);

    // A raw's camera data in the WebP's Exif chunk.
    Craft(At(L"raw.dng"), "");
    run = Convert({At(L"raw.dng")}, "TOWEBP");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"raw.webp")), "WEBP 320x240");
    EXPECT_EQ(Tags(At(L"raw.webp"), "-Make -ISO"), "Quennel\n400\n");
}
