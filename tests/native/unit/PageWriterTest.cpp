// The PostScript and PDF writers: the pages rendered by Ghostscript and by
// poppler, each picture cell sampled at its centre and compared with the
// source (exact for the run-length form, within JPEG's error for the DCT
// form); the run-length filter, ASCII85 and the cross-reference table read
// back by the strict readers of model/FormatReaders.h.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "converter/writers/Page.h"
#include "converter/writers/Pdf.h"
#include "converter/writers/PostScript.h"
#include "model/FormatReaders.h"
#include "model/HostTools.h"

namespace {

using HostTools::Output;
using HostTools::TempFile;

Image Picture(uint32_t width, uint32_t height) {
    Image image;
    image.width = width;
    image.height = height;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            // Smooth enough for JPEG to keep, different in every cell.
            const uint8_t b = static_cast<uint8_t>(255 * x / std::max(width - 1, 1u));
            const uint8_t g = static_cast<uint8_t>(255 * y / std::max(height - 1, 1u));
            const uint8_t r = static_cast<uint8_t>((x + y) % 2 ? 200 : 40);
            image.bgra.insert(image.bgra.end(), {b, g, r, 0xFF});
        }
    return image;
}

std::vector<uint8_t> Jpeg(const Image& image) {
    std::vector<uint8_t> rgb;
    for (size_t i = 0; i < image.bgra.size(); i += 4)
        rgb.insert(rgb.end(), {image.bgra[i + 2], image.bgra[i + 1], image.bgra[i]});
    TempFile raw(rgb, ".rgb");
    const auto jpeg = Output("convert -size " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                             " -depth 8 rgb:" + raw.Path() + " -quality 95 -sampling-factor 1x1 jpg:-");
    EXPECT_TRUE(jpeg.has_value());
    return jpeg.value_or(std::vector<uint8_t>());
}

// The page at 72 dots an inch (one device pixel a point), each picture
// cell's centre against the source: the largest difference of a channel.
int LargestDifference(const HostTools::Rgb& page, const Image& image) {
    EXPECT_EQ(page.width, 595u);
    EXPECT_EQ(page.height, 842u);
    if (page.width != 595 || page.height != 842) return 255;
    const Page::Placement place = Page::Place(image.width, image.height);
    const double cellWidth = place.width / image.width;
    const double cellHeight = place.height / image.height;
    const double top = Page::Height - (place.y + place.height);
    int largest = 0;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            const auto px = static_cast<uint32_t>(place.x + (x + 0.5) * cellWidth);
            const auto py = static_cast<uint32_t>(top + (y + 0.5) * cellHeight);
            const uint8_t* got = page.At(px, py);
            const uint8_t* want = image.Row(y) + x * 4;
            for (int c = 0; c < 3; ++c) largest = std::max(largest, std::abs(int{got[c]} - int{want[2 - c]}));
        }
    // Outside the picture the page stays white.
    const uint8_t* corner = page.At(5, 5);
    EXPECT_TRUE(corner[0] == 255 && corner[1] == 255 && corner[2] == 255) << "the margin is not white";
    return largest;
}

HostTools::Rgb Render(const std::string& command) {
    std::string errors;
    const auto ppm = Output(command, &errors);
    EXPECT_TRUE(ppm.has_value()) << command << ": " << errors;
    EXPECT_EQ(errors, "") << command;
    const auto page = HostTools::ParsePpm(ppm.value_or(std::vector<uint8_t>()));
    EXPECT_TRUE(page.has_value()) << command;
    return page.value_or(HostTools::Rgb());
}

const std::vector<std::pair<uint32_t, uint32_t>> kSizes = {{1, 1}, {37, 23}, {16, 101}, {64, 64}};

// ---------------------------------------------------------------------------

TEST(PostScriptWriter, GhostscriptRendersThePictureCentredOnA4) {
    ASSERT_TRUE(HostTools::Have("gs")) << "Ghostscript (gs) is needed";
    for (auto [width, height] : kSizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const Image image = Picture(width, height);
        for (bool dct : {false, true}) {
            Page::Pixels pixels = Page::FromImage(image);
            if (dct) ASSERT_TRUE(Page::FromJpeg(Jpeg(image), pixels));
            const std::vector<uint8_t> file = PostScript::Write(pixels);
            TempFile ps(file, ".ps");
            const HostTools::Rgb page =
                Render("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 -sOutputFile=- " + ps.Path());
            EXPECT_LE(LargestDifference(page, image), dct ? 24 : 0) << (dct ? "DCT" : "run-length");
        }
    }
}

TEST(PostScriptWriter, StructureCommentsAndAscii85) {
    const Image image = Picture(37, 23);
    const Page::Pixels pixels = Page::FromImage(image);
    const std::vector<uint8_t> file = PostScript::Write(pixels);
    const std::string text(file.begin(), file.end());
    EXPECT_EQ(text.rfind("%!PS-Adobe-3.0\n", 0), 0u);
    EXPECT_NE(text.find("%%LanguageLevel: 2\n"), std::string::npos);
    // 37 x 23 fits the width: 523 points wide, 325.11 high, centred.
    EXPECT_NE(text.find("%%BoundingBox: 36 258 559 584\n"), std::string::npos);
    EXPECT_NE(text.find("%%EOF\n"), std::string::npos);

    // Every length of data, all-zero groups and lines starting with '%'.
    for (size_t size : {0, 1, 2, 3, 4, 5, 8, 61, 1000}) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = i % 9 < 4 ? 0 : static_cast<uint8_t>(i * 37 + 0x2A);
        const std::vector<uint8_t> a85 = PostScript::Ascii85(bytes);
        const std::string encoded(a85.begin(), a85.end());
        EXPECT_EQ(Readers::DecodeAscii85(encoded), bytes) << size << " bytes";
        size_t line = 0;
        for (size_t at = 0; at < encoded.size(); at = encoded.find('\n', at) + 1) {
            const size_t end = encoded.find('\n', at);
            EXPECT_LE(end - at, 77u);
            EXPECT_NE(encoded[at], '%') << "line " << line++;
            if (end == std::string::npos) break;
        }
    }
    // 0x0C800000 is 4 * 85^4 and a little: its first digit is '%'.
    const std::vector<uint8_t> percent = {0x0C, 0x80, 0x00, 0x00};
    const std::vector<uint8_t> a85 = PostScript::Ascii85(percent);
    EXPECT_EQ(std::string(a85.begin(), a85.begin() + 2), " %");
    EXPECT_EQ(Readers::DecodeAscii85(std::string(a85.begin(), a85.end())), percent);
}

// ---------------------------------------------------------------------------

TEST(PdfWriter, PopplerAndGhostscriptRenderThePictureCentredOnA4) {
    ASSERT_TRUE(HostTools::Have("pdftoppm") && HostTools::Have("pdfinfo")) << "poppler-utils are needed";
    ASSERT_TRUE(HostTools::Have("gs")) << "Ghostscript (gs) is needed";
    for (auto [width, height] : kSizes) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const Image image = Picture(width, height);
        for (bool dct : {false, true}) {
            SCOPED_TRACE(dct ? "DCT" : "run-length");
            Page::Pixels pixels = Page::FromImage(image);
            if (dct) ASSERT_TRUE(Page::FromJpeg(Jpeg(image), pixels));
            const std::vector<uint8_t> file = Pdf::Write(pixels);
            // Offsets, lengths and the table checked byte for byte.
            const auto stream = Readers::PdfImageStream(file);
            ASSERT_TRUE(stream.has_value()) << "cross-reference table or stream length wrong";
            EXPECT_EQ(*stream, pixels.data);

            TempFile pdf(file, ".pdf");
            std::string errors;
            const auto info = Output("pdfinfo " + pdf.Path(), &errors);
            ASSERT_TRUE(info.has_value()) << errors;
            EXPECT_EQ(errors, "") << "poppler complains";
            std::string infoText;  // without its column alignment
            for (uint8_t ch : *info)
                if (ch != ' ') infoText += static_cast<char>(ch);
            EXPECT_NE(infoText.find("Pages:1\n"), std::string::npos) << infoText;
            EXPECT_NE(infoText.find("Pagesize:595x842pts(A4)"), std::string::npos) << infoText;

            // Poppler stops at a broken table with an error on stderr
            // (which Render checks), Ghostscript repairs it with a warning.
            const int limit = dct ? 24 : 0;
            EXPECT_LE(LargestDifference(Render("pdftoppm -r 72 " + pdf.Path()), image), limit) << "poppler";
            EXPECT_LE(LargestDifference(Render("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=ppmraw -r72 "
                                               "-sOutputFile=- " + pdf.Path()), image),
                      limit)
                << "Ghostscript";
        }
    }
}

// ---------------------------------------------------------------------------

TEST(PageLayout, PlacementNumbersAndRunLength) {
    const Page::Placement wide = Page::Place(2000, 100);
    EXPECT_DOUBLE_EQ(wide.x, 36);
    EXPECT_DOUBLE_EQ(wide.width, 523);
    EXPECT_DOUBLE_EQ(wide.y + wide.height / 2, 421);
    const Page::Placement tall = Page::Place(1, 65535);
    EXPECT_DOUBLE_EQ(tall.y, 36);
    EXPECT_DOUBLE_EQ(tall.height, 770);
    EXPECT_DOUBLE_EQ(tall.x + tall.width / 2, 297.5);

    EXPECT_EQ(Page::Number(0), "0");
    EXPECT_EQ(Page::Number(36), "36");
    EXPECT_EQ(Page::Number(258.44496), "258.445");
    EXPECT_EQ(Page::Number(0.00004), "0");
    EXPECT_EQ(Page::Number(-1.5), "-1.5");
    EXPECT_EQ(Page::Number(1e9), "1000000000");

    // Runs of 1 to 130 and literal stretches around 128 bytes.
    for (size_t length : {1, 2, 3, 127, 128, 129, 130, 256, 257}) {
        for (bool equal : {true, false}) {
            std::vector<uint8_t> bytes;
            for (size_t i = 0; i < length; ++i) bytes.push_back(equal ? 7 : static_cast<uint8_t>(i % 251));
            bytes.push_back(9);
            const std::vector<uint8_t> packed = Page::RunLength(bytes);
            EXPECT_EQ(Readers::DecodeRunLength(packed), bytes) << length << (equal ? " equal" : " differing");
            if (equal && length >= 2) EXPECT_LE(packed.size(), 2 * ((length + 127) / 128) + 3);
        }
    }
    EXPECT_EQ(Page::RunLength({}), std::vector<uint8_t>{128});
}

TEST(PageLayout, ReadsJpegFrameHeadersAndRefusesOtherBytes) {
    ASSERT_TRUE(HostTools::Have("convert")) << "ImageMagick (convert) is needed";
    const Image image = Picture(19, 7);
    Page::Pixels pixels;
    ASSERT_TRUE(Page::FromJpeg(Jpeg(image), pixels));
    EXPECT_EQ(pixels.width, 19u);
    EXPECT_EQ(pixels.height, 7u);
    EXPECT_EQ(pixels.components, 3);
    EXPECT_STREQ(pixels.filter, "DCTDecode");

    TempFile raw(std::vector<uint8_t>(19 * 7, 128), ".gray");
    const auto progressiveGrey = Output("convert -size 19x7 -depth 8 gray:" + raw.Path() + " -interlace JPEG jpg:-");
    ASSERT_TRUE(progressiveGrey.has_value());
    ASSERT_TRUE(Page::FromJpeg(*progressiveGrey, pixels));
    EXPECT_EQ(pixels.components, 1);

    const std::vector<uint8_t> jpeg = Jpeg(image);
    for (size_t cut : {size_t{0}, size_t{2}, size_t{3}, size_t{20}})
        EXPECT_FALSE(Page::FromJpeg(std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + cut), pixels)) << cut;
    EXPECT_FALSE(Page::FromJpeg({0x89, 'P', 'N', 'G'}, pixels));
    // A scan before any frame header.
    EXPECT_FALSE(Page::FromJpeg({0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9}, pixels));
}

}  // namespace
