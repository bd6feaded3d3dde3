// PNG and JPEG through the converter's own codecs (libdeflate, libjpeg-turbo),
// judged by ImageMagick on the host: PNG pixel for pixel and by its size
// against ImageMagick's own PNG of the same picture (true colour, grey,
// palette, alpha), a JPEG reduced by a preset (the decoder
// scales first) against ImageMagick's reduction of the full picture.
#include "ConverterFixture.h"

#include "support/SettingsKey.h"

namespace {

struct PngCase {
    const wchar_t* stem;
    const char* recipe;
    const char* kind;  // identify's type of ImageMagick's own PNG of it
};

const PngCase kPngCases[] = {
    {L"photo", "-seed 11 -size 640x480 plasma:fractal -blur 0x1.2 -depth 8", "TrueColor"},
    {L"grey", "-seed 12 -size 500x375 plasma:fractal -blur 0x1 -colorspace Gray -depth 8", "Grayscale"},
    {L"few-colours", "-seed 13 -size 300x200 plasma:fractal +dither -colors 12 -depth 8", "Palette"},
    {L"alpha",
     "-seed 14 -size 320x240 plasma:fractal -blur 0x1 \\( -size 320x240 gradient:white-black \\) -alpha off "
     "-compose CopyOpacity -composite -depth 8",
     "TrueColorAlpha"},
};

}  // namespace

class CodecsTest : public ConverterFixture {};

TEST_F(CodecsTest, PngIsExactAndNoLargerThanImageMagicks) {
    std::vector<std::wstring> list;
    for (const PngCase& source : kPngCases) {
        MakePicture(At(std::wstring(source.stem) + L".png"), source.recipe);
        list.push_back(At(std::wstring(source.stem) + L".png"));
    }
    const ProcessResult run = Convert(list, "TOPNG");
    ASSERT_EQ(run.exitCode, 0u) << run.err;
    for (const PngCase& source : kPngCases) {
        const std::wstring stem = source.stem, picture = At(stem + L".png");
        SCOPED_TRACE(Utf8FromWide(stem));
        const std::wstring ours = At(stem + L" (2).png"), theirs = At(stem + L"-im.png");
        MakePicture(theirs, Unix(picture));
        ASSERT_NE(Host("identify -format '%[type]' " + Unix(theirs)).out.find(source.kind), std::string::npos);
        EXPECT_EQ(Compare(picture, ours, "AE"), 0.0);
        EXPECT_LE(Bytes(ours).size(), Bytes(theirs).size() * 105 / 100);
    }
}

TEST_F(CodecsTest, AReducedJpegMatchesImageMagicksReductionOfTheWholePicture) {
    CleanSettingsKey settings;
    // 2400x1800 into 800x600 lets the decoder halve it first, into 300x300
    // (300x225) take an eighth and leave nothing for the resampler.
    MakePicture(At(L"photo.jpg"), "-seed 21 -size 2400x1800 plasma:fractal -blur 0x1.5 -quality 92");
    ASSERT_TRUE(WriteSettingText("SIZEX5", "300"));
    ASSERT_TRUE(WriteSettingText("SIZEY5", "300"));
    for (const char* token : {"RS_1", "RS_5"}) {
        const ProcessResult run = Convert({At(L"photo.jpg")}, token);
        EXPECT_EQ(run.exitCode, 0u) << token << ": " << run.err;
    }
    struct Expected {
        const wchar_t* name;
        const char* size;
    };
    for (const Expected& result : {Expected{L"photo (800x600).jpg", "800x600"}, Expected{L"photo (300x300).jpg", "300x225"}}) {
        SCOPED_TRACE(Utf8FromWide(result.name));
        ASSERT_EQ(Identify(At(result.name)), std::string("JPEG ") + result.size);
        const std::wstring reference = At(std::wstring(L"reference-") + result.name + L".png");
        MakePicture(reference, Unix(At(L"photo.jpg")) + " -filter Catrom -resize " + result.size + " -depth 8");
        EXPECT_GE(Compare(reference, At(result.name), "PSNR"), 34.0);
    }
}
