// Which paths count as pictures: the extension rule against its definition,
// in a single-byte and two double-byte code pages, under the sanitizers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "model/ReferenceModels.h"
#include "untMain/ImageExtensions.h"

namespace {

using ImageExtensions::HasAcceptedExtension;
using ImageExtensions::IsAcceptedExtension;
using ImageExtensions::PathExtension;

// The product's answer on an exactly sized heap copy of the path, checked to
// lie inside it.
struct Answer {
    std::string extension;
    bool accepted;
};
Answer Product(const std::string& path, Model::LeadByte lead) {
    std::unique_ptr<char[]> bytes(new char[path.size() ? path.size() : 1]);
    std::copy(path.begin(), path.end(), bytes.get());
    const std::string_view view(bytes.get(), path.size());
    const std::string_view ext = PathExtension(view, lead);
    if (!ext.empty()) {
        EXPECT_GE(ext.data(), view.data());
        EXPECT_EQ(ext.data() + ext.size(), view.data() + view.size()) << "not a tail of the path";
    }
    return {std::string(ext), HasAcceptedExtension(view, lead)};
}

const Model::LeadByte kCodePages[] = {nullptr, Model::ShiftJisLead, Model::GbkLead};

TEST(ImageExtensionRule, EveryAcceptedExtensionInAnyCaseOfAsciiLetters) {
    ASSERT_EQ(Model::Accepted().size(), ImageExtensions::AcceptedCount);
    for (const std::string& ext : Model::Accepted()) {
        std::string upper = ext;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::string mixed = ext;
        for (size_t i = 1; i < mixed.size(); i += 2) mixed[i] = upper[i];
        for (const std::string& form : {ext, upper, mixed}) {
            for (Model::LeadByte lead : kCodePages) {
                EXPECT_TRUE(Product("C:\\Bilder\\Foto" + form, lead).accepted) << form;
                EXPECT_TRUE(Product(form, lead).accepted) << form;  // a name that is only the extension
            }
        }
        // A shorter form is accepted only as an extension of its own (.tif, .jpe).
        const std::string shorter = ext.substr(0, ext.size() - 1);
        EXPECT_EQ(IsAcceptedExtension(shorter), Model::Accepts(shorter)) << shorter;
        EXPECT_FALSE(IsAcceptedExtension(ext + "x")) << "longer than " << ext;
        EXPECT_FALSE(IsAcceptedExtension(ext.substr(1))) << "no dot: " << ext;
    }
}

TEST(ImageExtensionRule, DocumentedPaths) {
    struct Case {
        const char* path;
        bool accepted;
    } cases[] = {
        {"C:\\Bilder\\Foto.JPG", true},      {"C:\\Bilder\\Foto.jpeg.bak", false},
        {"C:\\Bilder\\a.b\\readme", false},  {"C:\\Bilder\\.gif", true},
        {"C:\\Bilder\\name.", false},        {"x.ps", false},
        {"x.jfif", false},                   {"x.jpeg2000", false},
        {"x.tif", true},                     {"x.tiff", true},
        {"x.psp", true},                     {"x.pspimage", true},
        {"bild.jpg.txt", false},             {"C:.jpg", true},
        {"C:jpg", false},                    {"", false},
        {"x.J\xD0G", false},                 {"x.\xC4PG", false},  // no letter above 0x7F is folded
    };
    for (const Case& c : cases) {
        for (Model::LeadByte lead : kCodePages) {
            EXPECT_EQ(Product(c.path, lead).accepted, c.accepted) << c.path;
        }
    }
}

TEST(ImageExtensionRule, TrailByteThatLooksLikeASeparatorIsNone) {
    // 0x95 0x5C is one Shift-JIS character; its second byte is no backslash,
    // so the dot before it still starts the extension.
    const std::string path = "C:\\x.jp\x95\\";
    EXPECT_EQ(Product(path, Model::ShiftJisLead).extension, ".jp\x95\\");
    EXPECT_EQ(Product(path, nullptr).extension, "");
    // A lead byte as the very last byte has no partner: it is a character alone.
    EXPECT_EQ(Product("a.jpg\x95", Model::ShiftJisLead).extension, ".jpg\x95");
    // 0x81 0x2E: the dot is a trail byte and no dot.
    EXPECT_EQ(Product("a.gif\x81.", Model::ShiftJisLead).extension, ".gif\x81.");
    EXPECT_EQ(Product("a.gif\x81.", nullptr).extension, ".");
}

// Every path of up to five bytes over the bytes that matter, in each code
// page: the product and the model give the same extension and answer.
TEST(ImageExtensionRule, AgreesWithTheModelOnEveryShortPath) {
    const std::string alphabet = "./\\:gjGp\x81\x95\xE0\xFD";
    size_t checked = 0;
    for (Model::LeadByte lead : kCodePages) {
        for (size_t length = 0; length <= 5; ++length) {
            std::vector<size_t> digit(length, 0);
            for (;;) {
                std::string path(length, ' ');
                for (size_t i = 0; i < length; ++i) path[i] = alphabet[digit[i]];
                const Answer got = Product(path, lead);
                const std::string_view want = Model::Extension(path, lead);
                ASSERT_EQ(got.extension, want) << "path \"" << path << "\"";
                ASSERT_EQ(got.accepted, Model::Accepts(want)) << "path \"" << path << "\"";
                ++checked;
                size_t i = 0;
                while (i < length && ++digit[i] == alphabet.size()) digit[i++] = 0;
                if (i == length) break;
            }
        }
    }
    EXPECT_GT(checked, 3u * 248832u);
}

// A path of 260, 261 and 100,000 bytes, ending in an accepted extension or not.
TEST(ImageExtensionRule, LongPaths) {
    for (size_t length : {259u, 260u, 261u, 1000u, 100000u}) {
        std::string path(length - 4, 'a');
        path[2] = '\\';
        for (Model::LeadByte lead : kCodePages) {
            EXPECT_TRUE(Product(path + ".png", lead).accepted) << length;
            EXPECT_FALSE(Product(path + ".txt", lead).accepted) << length;
        }
    }
}

}  // namespace
