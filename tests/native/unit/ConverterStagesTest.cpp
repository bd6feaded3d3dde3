// The converter's pure stages: the list's lines, fitting into a box, result
// names, flattening onto white and resampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <cstring>

#include "converter/metadata/ColourProfile.h"
#include "converter/metadata/ExifOrientation.h"
#include "converter/base/Geometry.h"
#include "converter/run/ListText.h"
#include "converter/pipeline/Naming.h"
#include "converter/base/Pixels.h"
#include "converter/base/Resampling.h"
#include "converter/run/WorkerProtocol.h"

namespace {

Image Filled(uint32_t w, uint32_t h, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    Image image;
    image.width = w;
    image.height = h;
    image.bgra.resize(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < image.bgra.size(); i += 4) {
        image.bgra[i] = b;
        image.bgra[i + 1] = g;
        image.bgra[i + 2] = r;
        image.bgra[i + 3] = a;
    }
    return image;
}

}  // namespace

TEST(ListTextTest, LinesEndInCrLfOrLfAndBlankLinesAreLeftOut) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ListText::Lines("C:\\a.png\r\nC:\\b c.jpg\r\n"), (V{"C:\\a.png", "C:\\b c.jpg"}));
    EXPECT_EQ(ListText::Lines("a\nb"), (V{"a", "b"}));
    EXPECT_EQ(ListText::Lines("\r\n   \r\na\r\n\r\n"), (V{"a"}));
    EXPECT_EQ(ListText::Lines("a\rb\r\n"), (V{"a\rb"}));
    EXPECT_EQ(ListText::Lines(std::string("\xE4\x00x\r\n", 5)), (V{std::string("\xE4\x00x", 3)}));
    EXPECT_TRUE(ListText::Lines("").empty());
}

TEST(ListTextTest, OnlyFullPathsInTheAnsiCodePageMakeAList) {
    using P = ListText::Problem;
    const struct {
        std::string text;
        P bytes, line;
    } cases[] = {
        {"C:\\Bilder\\a.png", P::None, P::None},
        {"c:/Bilder/a.png", P::None, P::None},
        {"\\\\server\\share\\a.png", P::None, P::None},
        {"\\\\?\\C:\\sehr\\lang\\a.png", P::None, P::None},
        {"\\\\?\\UNC\\server\\share\\a.png", P::None, P::None},
        {"a.png", P::None, P::RelativePath},
        {"Bilder\\a.png", P::None, P::RelativePath},
        {"\\Bilder\\a.png", P::None, P::RelativePath},
        {"C:a.png", P::None, P::RelativePath},
        {"\\\\server", P::None, P::RelativePath},
        {"\\\\server\\", P::None, P::RelativePath},
        {"\\\\.\\PhysicalDrive0", P::None, P::DevicePath},
        {"\\\\.\\C:\\a.png", P::None, P::DevicePath},
        {"\\\\?\\GLOBALROOT\\Device\\Null", P::None, P::DevicePath},
        {"//./COM1", P::None, P::DevicePath},
        {std::string("C:\\a\0.png", 8), P::NulInLine, P::NulInLine},
        {std::string("\xFF\xFE" "C\0:\0", 6), P::NotAnsi, P::NulInLine},
        {std::string("C\0:\0\\\0a\0", 8), P::NotAnsi, P::NulInLine},
        {"\xEF\xBB\xBF" "C:\\a.png", P::None, P::RelativePath},  // the line is checked after its mark
        {std::string("\xEF\xBB\xBF" "C\0:\0\\\0a\0", 11), P::NotAnsi, P::NulInLine},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ListText::CheckBytes(c.text), c.bytes) << c.text;
        EXPECT_EQ(ListText::CheckLine(c.text), c.line) << c.text;
    }
}

TEST(ListTextTest, OnlyUtf8sByteOrderMarkMakesAUtf8List) {
    using E = ListText::Encoding;
    EXPECT_EQ(ListText::EncodingOf("\xEF\xBB\xBF" "C:\\\xD0\x96.png\r\n"), E::Utf8);
    EXPECT_EQ(ListText::Body("\xEF\xBB\xBF" "C:\\a.png"), "C:\\a.png");
    EXPECT_EQ(ListText::EncodingOf("\xEF\xBB" "C:\\a.png"), E::Ansi);  // a cut mark is ANSI text
    EXPECT_EQ(ListText::Body("\xEF\xBB" "C:"), "\xEF\xBB" "C:");
    EXPECT_EQ(ListText::EncodingOf("C:\\\xEF\xBB\xBF.png"), E::Ansi);  // only at the start
    EXPECT_EQ(ListText::EncodingOf(""), E::Ansi);
}

TEST(WorkerProtocolTest, MessagesComeBackAsSentAndBrokenOnesAreRefused) {
    namespace W = WorkerProtocol;
    const auto body = [](std::vector<uint8_t> message) {
        uint32_t length = 0;
        EXPECT_TRUE(W::BodyLength(message.data(), length));
        EXPECT_EQ(length + 4, message.size());
        return std::vector<uint8_t>(message.begin() + 4, message.end());
    };
    W::JobMessage job;
    job.formatToken = "TOJPG";
    job.boxWidth = 800;
    job.boxHeight = 600;
    job.enlarge = true;
    job.tag = L" (800x600)";
    job.jpegQuality = 77;
    job.folder = L"C:\\Ergebnisse \u00e4\u5199";
    W::JobMessage jobBack;
    ASSERT_TRUE(W::Decode(body(W::Encode(job)), jobBack));
    EXPECT_EQ(jobBack.formatToken, job.formatToken);
    EXPECT_EQ(jobBack.boxWidth, 800u);
    EXPECT_EQ(jobBack.boxHeight, 600u);
    EXPECT_TRUE(jobBack.enlarge);
    EXPECT_EQ(jobBack.tag, job.tag);
    EXPECT_EQ(jobBack.jpegQuality, 77u);
    EXPECT_EQ(jobBack.folder, job.folder);

    W::DoneMessage done;
    done.converted = false;
    done.outOfMemory = true;
    done.reason = L"Nicht gen\u00fcgend Arbeitsspeicher.";
    W::DoneMessage doneBack;
    const std::vector<uint8_t> doneBody = body(W::Encode(done));
    ASSERT_TRUE(W::Decode(doneBody, doneBack));
    EXPECT_TRUE(doneBack.outOfMemory && doneBack.started && !doneBack.converted);
    EXPECT_EQ(doneBack.reason, done.reason);
    W::PictureMessage picture;
    EXPECT_FALSE(W::Decode(doneBody, picture)) << "another kind";
    for (size_t cut = 0; cut < doneBody.size(); ++cut)
        EXPECT_FALSE(W::Decode(std::vector<uint8_t>(doneBody.begin(), doneBody.begin() + cut), doneBack)) << cut;
    std::vector<uint8_t> longer = doneBody;
    longer.push_back(0);
    EXPECT_FALSE(W::Decode(longer, doneBack)) << "a byte too many";
    const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    uint32_t length = 0;
    EXPECT_FALSE(W::BodyLength(huge, length));
}

// Against the definition: the result keeps the aspect ratio to within a
// pixel's rounding, fits the box, touches it with one side, and a source
// that fits is left alone unless enlarging is asked for.
TEST(GeometryTest, FitInsideAgreesWithItsDefinitionOnRandomSizes) {
    srand(7);
    for (int i = 0; i < 200000; ++i) {
        const PixelSize source{1u + rand() % 70000u, 1u + rand() % 70000u};
        const PixelSize box{1u + rand() % 9000u, 1u + rand() % 9000u};
        const bool enlarge = (i & 1) != 0;
        const PixelSize fit = Geometry::FitInside(source, box, enlarge);
        const bool fits = source.width <= box.width && source.height <= box.height;
        if (fits && !enlarge) {
            ASSERT_EQ(fit, source);
            continue;
        }
        ASSERT_GE(fit.width, 1u);
        ASSERT_GE(fit.height, 1u);
        ASSERT_LE(fit.width, box.width);
        ASSERT_LE(fit.height, box.height);
        ASSERT_TRUE(fit.width == box.width || fit.height == box.height);
        const double scale = std::min(double(box.width) / source.width, double(box.height) / source.height);
        // A side that would round to nothing keeps one pixel.
        const double width = std::max(1.0, source.width * scale), height = std::max(1.0, source.height * scale);
        ASSERT_LE(std::fabs(fit.width - width), 0.5 + 1e-9) << source.width << "x" << source.height;
        ASSERT_LE(std::fabs(fit.height - height), 0.5 + 1e-9) << source.width << "x" << source.height;
    }
    EXPECT_EQ(Geometry::FitInside({4000, 3000}, {800, 600}, false), (PixelSize{800, 600}));
    EXPECT_EQ(Geometry::FitInside({1000, 500}, {300, 100}, false), (PixelSize{200, 100}));
    EXPECT_EQ(Geometry::FitInside({1, 65535}, {800, 600}, false), (PixelSize{1, 600}));
    EXPECT_EQ(Geometry::FitInside({0, 10}, {800, 600}, false), (PixelSize{0, 0}));
}

TEST(NamingTest, StemTagAndNumberedCandidates) {
    EXPECT_EQ(Naming::Stem(L"Foto.2024.JPG"), L"Foto.2024");
    EXPECT_EQ(Naming::Stem(L".png"), L".png");
    EXPECT_EQ(Naming::Stem(L"ohne"), L"ohne");
    EXPECT_EQ(Naming::Candidate(L"a", L"", L".png", 1), L"a.png");
    EXPECT_EQ(Naming::Candidate(L"a", L"", L".png", 2), L"a (2).png");
    EXPECT_EQ(Naming::Candidate(L"\u5199\u771f", Naming::SizeTag(800, 600), L".jpg", 3),
              L"\u5199\u771f (800x600) (3).jpg");
}

TEST(PixelsTest, FlatteningPutsTransparentPixelsOntoWhite) {
    Image image = Filled(3, 1, 0, 0, 200, 255);
    image.bgra[4 + 3] = 0;    // fully transparent: white
    image.bgra[8 + 3] = 128;  // half: half way to white
    Pixels::FlattenOntoWhite(image);
    EXPECT_EQ(image.bgra, (std::vector<uint8_t>{0, 0, 200, 255, 255, 255, 255, 255, 127, 127, 227, 255}));
    uint32_t stride = 0;
    EXPECT_EQ(Pixels::PackBgr(image, stride).size(), 12u);
    EXPECT_EQ(stride, 12u);
}

TEST(ResamplingTest, KeepsFlatColourAveragesDetailAndHidesTransparentColour) {
    // A flat picture stays exactly flat at every size.
    for (const PixelSize size : {PixelSize{1, 1}, PixelSize{7, 3}, PixelSize{300, 1}, PixelSize{2, 900}}) {
        const Image out = Resampling::Resize(Filled(97, 61, 10, 120, 230, 255), size);
        ASSERT_EQ(out.bgra.size(), size_t{size.width} * size.height * 4);
        for (size_t i = 0; i < out.bgra.size(); i += 4)
            ASSERT_EQ((std::vector<uint8_t>(out.bgra.begin() + i, out.bgra.begin() + i + 4)),
                      (std::vector<uint8_t>{10, 120, 230, 255}));
    }
    // A one-pixel checkerboard halved turns grey, as an area filter makes it;
    // nearest neighbour would keep black and white.
    Image board = Filled(64, 64, 0, 0, 0, 255);
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x)
            if ((x + y) & 1) std::fill_n(board.Row(y) + x * 4, 3, 255);
    const Image grey = Resampling::Resize(board, {21, 21});
    for (uint32_t y = 2; y < 19; ++y)
        for (uint32_t x = 2; x < 19; ++x) ASSERT_NEAR(grey.Row(y)[x * 4], 128, 12) << x << "," << y;
    // Transparent pixels hide a red that must not show in the result.
    Image half = Filled(40, 10, 255, 0, 0, 255);  // opaque blue
    for (uint32_t y = 0; y < 10; ++y)
        for (uint32_t x = 20; x < 40; ++x) {
            uint8_t* p = half.Row(y) + x * 4;
            p[0] = 0, p[2] = 255, p[3] = 0;  // transparent red
        }
    const Image small = Resampling::Resize(half, {13, 3});
    for (size_t i = 0; i < small.bgra.size(); i += 4)
        if (small.bgra[i + 3] > 0) ASSERT_EQ(small.bgra[i + 2], 0) << "red bled at pixel " << i / 4;
}

// Each orientation against where it must put the stored corners: a 3x2
// picture whose pixels are numbered 0 .. 5 in their blue channel.
TEST(PixelsTest, OrientTurnsEachTagUpright) {
    struct Case {
        int tag;
        uint32_t w, h;
        std::vector<uint8_t> shown;  // the numbers, row by row, as shown
    };
    const Case cases[] = {
        {1, 3, 2, {0, 1, 2, 3, 4, 5}}, {2, 3, 2, {2, 1, 0, 5, 4, 3}}, {3, 3, 2, {5, 4, 3, 2, 1, 0}},
        {4, 3, 2, {3, 4, 5, 0, 1, 2}}, {5, 2, 3, {0, 3, 1, 4, 2, 5}}, {6, 2, 3, {3, 0, 4, 1, 5, 2}},
        {7, 2, 3, {5, 2, 4, 1, 3, 0}}, {8, 2, 3, {2, 5, 1, 4, 0, 3}},
    };
    for (const Case& c : cases) {
        Image image = Filled(3, 2, 0, 0, 0, 255);
        for (uint8_t i = 0; i < 6; ++i) image.bgra[i * 4] = i;
        Pixels::Orient(image, c.tag);
        ASSERT_EQ(image.width, c.w) << c.tag;
        ASSERT_EQ(image.height, c.h) << c.tag;
        std::vector<uint8_t> shown;
        for (size_t i = 0; i < image.bgra.size(); i += 4) shown.push_back(image.bgra[i]);
        EXPECT_EQ(shown, c.shown) << "orientation " << c.tag;
    }
}

TEST(ExifOrientationTest, FindsTheTagInEitherByteOrderAndRefusesBrokenBlocks) {
    const auto read = [](const std::string& bytes) {
        return ExifOrientation::FromTiff(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    };
    const std::string big("MM\0*\0\0\0\x08\0\x02\x01\x0F\0\x02\0\0\0\x01\0\0\0\0"
                          "\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 38);
    const std::string little("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\x08\0\0\0\0\0\0\0", 26);
    EXPECT_EQ(read(big), 6);
    EXPECT_EQ(read(little), 8);
    std::string wrongType = little;
    wrongType[12] = 4;  // LONG, not SHORT
    EXPECT_EQ(read(wrongType), 1);
    std::string outOfRange = little;
    outOfRange[18] = 9;
    EXPECT_EQ(read(outOfRange), 1);
    std::string twoValues = little;
    twoValues[14] = 2;  // SHORT, count 2: read as viewers read it, by its first value
    EXPECT_EQ(read(twoValues), 8);
    EXPECT_EQ(read(little.substr(0, 22)), 8) << "a directory cut short counts as far as its entries are whole";
    EXPECT_EQ(read(little.substr(0, 19)), 1);  // the value cut off
    std::string farDirectory = little;
    farDirectory[4] = '\x7F';  // the directory beyond the block
    EXPECT_EQ(read(farDirectory), 1);
    EXPECT_EQ(read("GIF89a"), 1);

    // The same structures as TIFF files of their own, read through the file's
    // reads, the directory also far behind the pixels (where libtiff puts it)
    // and linked to itself.
    const auto readTiff = [](const std::string& bytes) {
        return ExifOrientation::ReadTiff(
            [&bytes](uint64_t offset, uint8_t* into, size_t size) -> size_t {
                if (offset >= bytes.size()) return 0;
                const size_t n = std::min<uint64_t>(size, bytes.size() - offset);
                std::memcpy(into, bytes.data() + offset, n);
                return n;
            },
            bytes.size());
    };
    EXPECT_EQ(readTiff(big), 6);
    std::string behindPixels = little.substr(0, 8) + std::string(100000, '\x55') + little.substr(8);
    behindPixels[4] = '\xA8';
    behindPixels[5] = '\x86';
    behindPixels[6] = '\x01';  // 0x186A8 = 100008
    EXPECT_EQ(readTiff(behindPixels), 8);
    std::string loop = little;
    loop[22] = '\x08';  // the next directory is this one
    EXPECT_EQ(readTiff(loop), 8);
    EXPECT_EQ(readTiff(farDirectory), 1);
    EXPECT_EQ(readTiff("II+\0"), 1);  // BigTIFF: not read
}

// CMYK without a profile of its own: the fallback profile Little CMS uses
// must give ImageMagick's and Pillow's formula (each colour what its ink and
// the black leave), within a level, for 0-is-no-ink and inverted inks alike,
// and leave the alpha bytes alone.
TEST(ColourProfileTest, CmykWithoutAProfileGivesWhatTheInksLeaveOfWhite) {
    ASSERT_FALSE(ColourProfile::FallbackCmyk().empty());
    for (const bool inverted : {false, true}) {
        const ColourProfile::CmykToSrgb inks({}, inverted);
        ASSERT_TRUE(inks.Ok());
        EXPECT_FALSE(inks.OwnProfile());
        std::srand(11);
        int worst = 0;
        for (int i = 0; i < 20000; ++i) {
            uint8_t ink[4], pixel[4] = {0, 0, 0, 77};
            for (uint8_t& v : ink) v = static_cast<uint8_t>(i < 16 ? ((i >> (&v - ink)) & 1) * 255 : std::rand() & 255);
            inks.Convert(ink, pixel, 1);
            ASSERT_EQ(pixel[3], 77);
            const auto amount = [&](int k) { return inverted ? 255 - ink[k] : ink[k]; };
            for (int c = 0; c < 3; ++c) {
                const int expected = ((255 - amount(c)) * (255 - amount(3)) + 127) / 255;
                worst = std::max(worst, std::abs(expected - pixel[2 - c]));
            }
        }
        EXPECT_LE(worst, 1) << (inverted ? "inverted" : "0 is no ink");
    }
}
