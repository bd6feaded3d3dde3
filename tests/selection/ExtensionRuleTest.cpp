// The rule that decides which paths name pictures, on its own.
#include <gtest/gtest.h>

#include <string>

#include "untMain/ImageExtensions.h"

using ImageExtensions::HasAcceptedExtension;
using ImageExtensions::IsAcceptedExtension;
using ImageExtensions::PathExtension;

namespace {

// The converter's formats, written out here rather than taken from the code.
const char* const kAccepted[] = {
    ".jpg", ".tif", ".pcx", ".png", ".bmp", ".tga", ".pxm", ".ppm", ".pgm", ".pbm",
    ".tiff", ".fax", ".g3n", ".g3f", ".jpeg", ".jpe", ".dib", ".rle", ".ico", ".cur",
    ".wmf", ".emf", ".targa", ".vda", ".icb", ".vst", ".pix", ".wbmp", ".jpc", ".j2c",
    ".cut", ".pcd", ".psp", ".pspimage", ".psd", ".jp2", ".j2k", ".gif", ".pdd"};

// Shift-JIS: lead bytes 0x81-0x9F and 0xE0-0xFC. Its trail bytes include
// 0x5C, which is "\" when read alone.
bool ShiftJisLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

}  // namespace

TEST(ExtensionRule, EveryConverterFormatIsAcceptedInAnyCaseOfAToZ) {
    ASSERT_EQ(39u, sizeof kAccepted / sizeof kAccepted[0]);
    for (const char* ext : kAccepted) {
        const std::string name = std::string("C:\\Bilder\\Foto") + ext;
        EXPECT_TRUE(HasAcceptedExtension(name, nullptr)) << name;
        EXPECT_TRUE(HasAcceptedExtension(Upper(name), nullptr)) << Upper(name);
        std::string mixed = name;
        mixed[mixed.size() - 1] = static_cast<char>(mixed.back() >= 'a' ? mixed.back() - 32 : mixed.back());
        EXPECT_TRUE(HasAcceptedExtension(mixed, nullptr)) << mixed;
    }
}

TEST(ExtensionRule, NearMissesOfEveryFormatAreRefused) {
    for (const char* ext : kAccepted) {
        const std::string e(ext);
        EXPECT_FALSE(IsAcceptedExtension(e + "x")) << e;
        EXPECT_FALSE(IsAcceptedExtension(e + " ")) << e;
        EXPECT_FALSE(IsAcceptedExtension(e.substr(0, e.size() - 1) + "_")) << e;
        EXPECT_FALSE(IsAcceptedExtension(e.substr(1))) << e;       // no dot
        EXPECT_FALSE(IsAcceptedExtension("." + e)) << e;           // two dots
        EXPECT_FALSE(IsAcceptedExtension(e + '\0')) << e;          // compared over its whole length
    }
    for (const char* ext : {".ps", ".jfif", ".jpeg2000", ".jp", ".pspimag", ".pspimages", ".webp",
                            ".svg", ".txt", ".", ""}) {
        EXPECT_FALSE(IsAcceptedExtension(ext)) << ext;
    }
}

TEST(ExtensionRule, OnlyAToZAreLowerCased) {
    // Bytes above 0x7F are left alone, whatever a locale would make of them:
    // 0xC9 is E with acute in code page 1252, 0xD0 / 0xF0 its eth pair.
    EXPECT_FALSE(IsAcceptedExtension(".\xC9MF"));
    EXPECT_FALSE(IsAcceptedExtension(".pc\xC4"));
    // "[" (0x5B) and "@" (0x40) lie right beside A-Z; lower-casing them would
    // be a fault that an off-by-one range shows.
    EXPECT_FALSE(IsAcceptedExtension(".@NG"));
    EXPECT_FALSE(IsAcceptedExtension(".J[G"));
    EXPECT_TRUE(IsAcceptedExtension(".J2K"));
    EXPECT_TRUE(IsAcceptedExtension(".PsPiMaGe"));
}

TEST(ExtensionRule, LastDotBackslashOrColonDecides) {
    EXPECT_EQ(".txt", PathExtension("C:\\Bilder\\bild.jpg.txt", nullptr));
    EXPECT_EQ(".bak", PathExtension("C:\\Bilder\\Foto.jpeg.bak", nullptr));
    EXPECT_EQ("", PathExtension("C:\\Bilder\\a.b\\readme", nullptr));
    EXPECT_EQ(".gif", PathExtension("C:\\Bilder\\.gif", nullptr));
    EXPECT_EQ(".", PathExtension("C:\\Bilder\\Foto.", nullptr));
    EXPECT_EQ("", PathExtension("C:\\Bilder\\Foto.jpg\\", nullptr));
    EXPECT_EQ("", PathExtension("C:\\Bilder\\Foto.jpg:stream", nullptr));
    EXPECT_EQ(".jpg", PathExtension("C:.jpg", nullptr));
    EXPECT_EQ("", PathExtension("C:Foto", nullptr));
    EXPECT_EQ("", PathExtension("Foto", nullptr));
    EXPECT_EQ("", PathExtension("", nullptr));
    EXPECT_EQ(".jpg", PathExtension(".jpg", nullptr));

    EXPECT_TRUE(HasAcceptedExtension("C:\\Bilder\\Foto.JPG", nullptr));
    EXPECT_FALSE(HasAcceptedExtension("C:\\Bilder\\Foto.jpeg.bak", nullptr));
    EXPECT_FALSE(HasAcceptedExtension("C:\\Bilder\\a.b\\readme", nullptr));
    EXPECT_TRUE(HasAcceptedExtension("C:\\Bilder\\.gif", nullptr));
    EXPECT_FALSE(HasAcceptedExtension("C:\\Bilder\\Foto.", nullptr));
    EXPECT_FALSE(HasAcceptedExtension("C:\\Bilder.jpg\\Foto", nullptr));
}

TEST(ExtensionRule, SecondByteOfADoubleByteCharacterIsNoSeparator) {
    // 0x95 0x5C is one Shift-JIS character; its 0x5C is no backslash.
    const std::string name = "C:\\Bilder\\x.\x95\x5C";
    EXPECT_EQ(".\x95\x5C", PathExtension(name, ShiftJisLead));
    EXPECT_EQ("", PathExtension(name, nullptr));  // read byte by byte, 0x5C is "\"
    // A lead byte swallows exactly one byte: the dot after the pair counts.
    EXPECT_EQ(".jpg", PathExtension("C:\\\x95\x5C.jpg", ShiftJisLead));
    EXPECT_TRUE(HasAcceptedExtension("C:\\\x95\x5C\x95\x5C.JPG", ShiftJisLead));
    // A lead byte as the very last byte has nothing to swallow.
    EXPECT_EQ(".\x95", PathExtension("C:\\a.\x95", ShiftJisLead));
    // Bytes that are no lead bytes are read one by one even in such a code page.
    EXPECT_EQ("", PathExtension("C:\\x.\x7F\\y", ShiftJisLead));
}
