// Photoshop's variants that no tool on the host writes, made by the format's
// documented layout (tests/support/craft_psd.py), converted to PNG by the
// real transform.exe and judged by ImageMagick; by Pillow with Little CMS
// for Lab, where ImageMagick assumes another white point; and against the
// same picture stored raw for ZIP, which ImageMagick reads only in layers.
#include <cwchar>
#include <string>
#include <vector>

#include "ConverterFixture.h"

namespace {

struct Variant {
    const wchar_t* name;
    const char* options;    // how craft_psd.py makes it
    const char* reference;  // what the judge reads: nullptr for the file itself, else these options' file
    bool lab;               // judged by Pillow with Little CMS
};

const Variant kVariants[] = {
    {L"float.psd", "--depth 32", nullptr, false},
    {L"float-alpha.psd", "--depth 32 --extra 1 --alpha", nullptr, false},
    {L"float-grey.psd", "--depth 32 --mode grey", nullptr, false},
    {L"many-channels.psd", "--extra 53 --alpha --compression rle", nullptr, false},
    {L"multichannel.psd", "--mode multi --inks 4 --depth 16", nullptr, false},
    {L"zip-predicted.psd", "--depth 16 --extra 1 --alpha --compression zippred", "--depth 16 --extra 1 --alpha", false},
    {L"zip-float.psd", "--depth 32 --compression zip", "--depth 32", false},
    {L"lab.psd", "--mode lab --compression rle", nullptr, true},
};

const char kPillowLab[] =
    "/usr/bin/python3 -c \"import sys; from PIL import Image, ImageCms; "
    "t = ImageCms.buildTransform(ImageCms.createProfile('LAB', 5000), ImageCms.createProfile('sRGB'), "
    "'LAB', 'RGB', renderingIntent=1, flags=0x100); "
    "ImageCms.applyTransform(Image.open(sys.argv[1]), t).save(sys.argv[2])\" ";

}  // namespace

class PhotoshopTest : public ConverterFixture {
protected:
    void Craft(const std::wstring& path, const std::string& options) {
        const ProcessResult made = Host("/usr/bin/python3 " QUENNEL_SOURCE_DIR "/tests/support/craft_psd.py " +
                                        Unix(path) + " " + options + " --size 61x37");
        ASSERT_EQ(made.exitCode, 0u) << made.err;
    }
};

TEST_F(PhotoshopTest, FloatLabMultichannelZipAndManyChannelsConvertAsTheReferencesReadThem) {
    std::vector<std::wstring> sources;
    for (const Variant& variant : kVariants) {
        sources.push_back(At(variant.name));
        Craft(sources.back(), variant.options);
        if (variant.reference) Craft(At(std::wstring(L"raw-") + variant.name), variant.reference);
    }
    const ProcessResult run = Convert(sources, "TOPNG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.err;

    for (const Variant& variant : kVariants) {
        SCOPED_TRACE(Utf8FromWide(variant.name));
        const std::wstring stem = std::wstring(variant.name).substr(0, wcslen(variant.name) - 4);
        const std::wstring result = At(stem + L".png");
        const std::wstring reference = At(L"reference-" + stem + L".png");
        const std::wstring read = variant.reference ? At(std::wstring(L"raw-") + variant.name) : At(variant.name);
        const std::string quoted = Unix(read);  // '...': the frame goes inside the quotes
        const std::string command =
            variant.lab ? kPillowLab + quoted + " " + Unix(reference)
                        : "convert 'psd:" + quoted.substr(1, quoted.size() - 2) + "[0]' -depth 8 png32:" + Unix(reference);
        const ProcessResult decoded = Host(command);
        ASSERT_EQ(decoded.exitCode, 0u) << decoded.err;
        ASSERT_EQ(Identify(result), "PNG 61x37");
        // One level at most: 16-bit and float samples round either way.
        EXPECT_GE(Compare(reference, result, "PSNR"), 45.0);
    }
}
