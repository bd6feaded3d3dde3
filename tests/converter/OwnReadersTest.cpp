// The kinds our own readers take, in every variant the fixture script
// writes (bitmaps of each header, depth, mask and compression byte by byte;
// GIFs with a local or no colour table; WebP lossy and lossless; Utah RLE;
// a bilevel TGA; a JPEG cut short), converted
// to PNG by the real transform.exe in one run and judged by that script
// against ImageMagick's and Pillow's decodes of the sources.
#include "ConverterFixture.h"

#include <algorithm>

namespace {

std::string Script() { return std::string("/usr/bin/python3 '") + QUENNEL_TESTS_SOURCE + "/converter/readerpictures.py'"; }

void Put32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

class OwnReadersTest : public ConverterFixture {};

TEST_F(OwnReadersTest, EveryVariantReadsAsImageMagickOrPillowDecodesIt) {
    const std::wstring folder = At(L"pictures");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const ProcessResult made = Host(Script() + " make " + Unix(folder));
    ASSERT_EQ(made.exitCode, 0u) << made.err;
    const size_t pictures = Names(folder).size();
    ASSERT_GE(pictures, 35u);

    const ProcessResult run = Convert({folder}, "TOPNG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.err.find(std::to_string(pictures) + " Dateien wurden umgewandelt."), std::string::npos) << run.err;
    // The JPEG cut short is converted, and the summary names it (and not
    // the one that lacks only its end marker).
    EXPECT_NE(run.err.find("1 Datei wurde unvollständig umgewandelt:\n" + Utf8FromWide(folder) +
                           "\\jpeg-cut-short.jpg: Die Datei endet vor dem Ende des Bildes; der fehlende Teil ist grau."),
              std::string::npos)
        << run.err;

    const ProcessResult judged = Host(Script() + " judge " + Unix(folder) + " " + Unix(folder));
    EXPECT_EQ(judged.exitCode, 0u) << judged.out << judged.err;
    EXPECT_EQ(static_cast<size_t>(std::count(judged.out.begin(), judged.out.end(), '\n')), pictures) << judged.out;
}

TEST_F(OwnReadersTest, DamagedPicturesSayWhyAndWriteNothing) {
    // A bitmap cut short in its rows, one whose RLE kind does not fit its
    // depth, and a GIF whose screen is beyond any picture's size.
    std::string cut(54 + 8 * 8 * 3 / 2, '\0');
    cut[0] = 'B', cut[1] = 'M';
    Put32(cut, 10, 54);
    Put32(cut, 14, 40);
    Put32(cut, 18, 8);
    Put32(cut, 22, 8);
    cut[26] = 1, cut[28] = 24;
    std::string rle = cut;
    rle[30] = 2;  // RLE4 on 24 bits
    std::string gif = std::string("GIF89a\xFF\xFF\xFF\xFF\x00\x00\x00", 13) + std::string("\x2C\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 16);
    ASSERT_TRUE(WriteNewFile(At(L"cut.bmp"), cut));
    ASSERT_TRUE(WriteNewFile(At(L"rle.bmp"), rle));
    ASSERT_TRUE(WriteNewFile(At(L"screen.gif"), gif));

    const ProcessResult run = Convert({At(L"cut.bmp"), At(L"rle.bmp"), At(L"screen.gif")}, "TOPNG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("cut.bmp: Die Grafik (BMP) ist beschädigt oder unvollständig."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("rle.bmp: Die Grafik (BMP) ist beschädigt oder unvollständig."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("screen.gif: Das Bild ist zu groß."), std::string::npos) << run.err;
    for (const wchar_t* name : {L"cut.png", L"rle.png", L"screen.png"}) EXPECT_FALSE(FileExists(At(name)));
}
