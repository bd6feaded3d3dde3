// HEIC and AVIF through the real transform.exe: pictures the host's heif-enc
// makes (8 and 10 bits, alpha straight and premultiplied, an Exif
// orientation, an Adobe RGB profile, PAL primaries, a turned and cropped
// grid of tiles as phones write it, AVIF) and libheif's own examples and
// fuzzing corpus, handed over as one folder (its walk must take them), then
// judged by the fixture script against heif-convert's decodes as displayed.
#include "ConverterFixture.h"

#include <algorithm>

namespace {

std::string Script() { return std::string("/usr/bin/python3 '") + QUENNEL_TESTS_SOURCE + "/converter/heifpictures.py'"; }

}  // namespace

class HeifTest : public ConverterFixture {};

TEST_F(HeifTest, FolderOfHeicAndAvifReadsAsHeifConvertShowsIt) {
    const std::wstring folder = At(L"pictures");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const ProcessResult made = Host(Script() + " make " + Unix(folder));
    ASSERT_EQ(made.exitCode, 0u) << made.err;
    const std::vector<std::wstring> fuzz = Names(folder + L"\\fuzz");
    ASSERT_GE(fuzz.size(), 30u);

    // The folder is walked: the kinds are found by their extensions.
    const ProcessResult run = Convert({folder}, "TOPNG");
    ASSERT_TRUE(run.finished);
    EXPECT_LE(run.exitCode, 1u) << run.err;

    // No fuzzing find crashes the run or is lost: each is converted or
    // named with its reason.
    for (const std::wstring& name : fuzz) {
        if (name.size() < 5 || name.compare(name.size() - 5, 5, L".heic") != 0) continue;
        const std::wstring stem = name.substr(0, name.size() - 5);
        const bool converted = FileExists(folder + L"\\fuzz\\" + stem + L".png");
        const std::string narrow(name.begin(), name.end());
        const bool reasoned = run.err.find(narrow + ":") != std::string::npos;
        EXPECT_TRUE(converted || reasoned) << narrow << "\n" << run.err;
    }

    const ProcessResult judged = Host(Script() + " judge " + Unix(folder) + " " + Unix(folder));
    EXPECT_EQ(judged.exitCode, 0u) << judged.out << judged.err;
    EXPECT_NE(judged.out.find("ok exif6.heic"), std::string::npos) << judged.out;
    EXPECT_NE(judged.out.find("ok premultiplied.heic"), std::string::npos) << judged.out;
    EXPECT_NE(judged.out.find("ok adobergb.heic"), std::string::npos) << judged.out;
    EXPECT_NE(judged.out.find("ok avif10.avif"), std::string::npos) << judged.out;
    EXPECT_NE(judged.out.find("ok grid.heic"), std::string::npos) << judged.out;
    EXPECT_NE(judged.out.find("ok nclx-pal.heic"), std::string::npos) << judged.out;
    std::printf("%s", judged.out.c_str());
}
