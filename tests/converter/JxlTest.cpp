// JPEG XL through the real transform.exe: cjxl's files of every kind a user
// meets (lossless and lossy, alpha straight and premultiplied, 16 bits,
// floats, grey, wide-gamut profiles, an animation, recompressed JPEGs in all
// eight orientations) judged against djxl's decodes as displayed by
// jxlpictures.py; what a turned photo's Exif says afterwards by exiftool;
// damaged and oversized files refused with their reason.
#include "ConverterFixture.h"

#include <algorithm>

namespace {

std::string Script() {
    return std::string("/usr/bin/python3 '") + QUENNEL_TESTS_SOURCE + "/converter/jxlpictures.py'";
}

}  // namespace

class JxlTest : public ConverterFixture {
protected:
    void MakePictures() {
        folder_ = At(L"pictures");
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        const ProcessResult made = Host(Script() + " make " + Unix(folder_));
        ASSERT_EQ(made.exitCode, 0u) << made.err;
    }
    std::wstring folder_;
};

TEST_F(JxlTest, EveryKindReadsAsDjxlDecodesIt) {
    ASSERT_NO_FATAL_FAILURE(MakePictures());
    const size_t pictures = Names(folder_).size();
    ASSERT_GE(pictures, 25u);

    const ProcessResult run = Convert({folder_}, "TOPNG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.err.find(std::to_string(pictures) + " Dateien wurden umgewandelt."), std::string::npos) << run.err;

    const ProcessResult judged = Host(Script() + " judge " + Unix(folder_) + " " + Unix(folder_));
    EXPECT_EQ(judged.exitCode, 0u) << judged.out << judged.err;
    EXPECT_EQ(static_cast<size_t>(std::count(judged.out.begin(), judged.out.end(), '\n')), pictures) << judged.out;
}

TEST_F(JxlTest, TurnedPhotoIsTurnedOnceAndItsExifSaysSo) {
    ASSERT_NO_FATAL_FAILURE(MakePictures());
    // The recompressed JPEGs carry their Exif (camera, orientation)
    // and XMP Brotli-compressed in the container; the orientation is also the
    // codestream's own, which decides.
    std::vector<std::wstring> sources;
    for (int orientation = 1; orientation <= 8; ++orientation)
        sources.push_back(folder_ + L"\\jpeg-orientation" + std::to_wstring(orientation) + L".jxl");
    const ProcessResult run = Convert(sources, "TOJPG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.err;

    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::wstring result = folder_ + L"\\jpeg-orientation" + std::to_wstring(orientation) + L".jpg";
        SCOPED_TRACE(orientation);
        EXPECT_EQ(Identify(result), orientation >= 5 ? "JPEG 43x61" : "JPEG 61x43");
        const ProcessResult tags = Host("exiftool -s3 -n -Orientation -Make -XMP-dc:Title " + Unix(result));
        EXPECT_EQ(tags.out, "1\nQuennel\nQuennel\n") << tags.err;
        // The pixels as djxl turns them: the same picture, once more a JPEG
        // (about 30 dB on this noisy plasma; turned otherwise, some 10).
        const std::wstring reference = At(L"reference" + std::to_wstring(orientation) + L".png");
        ASSERT_EQ(Host("djxl " + Unix(sources[orientation - 1]) + " " + Unix(reference)).exitCode, 0u);
        EXPECT_GT(Compare(result, reference, "PSNR"), 25);
    }
}

TEST_F(JxlTest, DamagedAndOversizedFilesSayWhyAndWriteNothing) {
    ASSERT_NO_FATAL_FAILURE(MakePictures());
    const std::string whole = Bytes(folder_ + L"\\lossless.jxl");
    ASSERT_GT(whole.size(), 100u);
    ASSERT_TRUE(WriteNewFile(At(L"cut.jxl"), whole.substr(0, whole.size() / 2)));
    // The container's signature and nothing of a codestream after it.
    ASSERT_TRUE(WriteNewFile(At(L"empty.jxl"), std::string("\0\0\0\x0CJXL \r\n\x87\n", 12) + std::string(40, 'x')));
    // A bare codestream whose header claims 2^30 x 2^30 pixels (jxlinfo reads
    // it so): not small; the height in its 30-bit form; no ratio; the width
    // the same; default metadata. Bits from the lowest of each byte on.
    std::string huge = std::string("\xFF\x0A", 2) + std::string(9 + 64, '\0');
    {
        size_t at = 16;
        const auto put = [&](uint32_t value, int n) {
            for (int i = 0; i < n; ++i, ++at)
                if (value >> i & 1) huge[at / 8] = static_cast<char>(huge[at / 8] | 1 << (at % 8));
        };
        put(0, 1), put(3, 2), put((1u << 30) - 1, 30), put(0, 3), put(3, 2), put((1u << 30) - 1, 30), put(1, 1);
    }
    ASSERT_TRUE(WriteNewFile(At(L"huge.jxl"), huge));

    const ProcessResult run = Convert({At(L"cut.jxl"), At(L"empty.jxl"), At(L"huge.jxl")}, "TOPNG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("cut.jxl: Die Grafik (JPEG XL) ist beschädigt oder unvollständig."), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("empty.jxl: Die Grafik (JPEG XL) ist beschädigt oder unvollständig."), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("huge.jxl: Das Bild ist zu groß."), std::string::npos) << run.err;
    for (const wchar_t* name : {L"cut.png", L"empty.png", L"huge.png"}) EXPECT_FALSE(FileExists(At(name)));
}
