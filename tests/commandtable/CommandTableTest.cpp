#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "untMain/CommandTable.h"

namespace {

std::string Str(const char* s) { return s ? std::string(s) : std::string("<none>"); }

TEST(CommandTable, SubmenuHasCaptionButNoHelpOrToken) {
    EXPECT_EQ(CommandTable::KindOf(0), CommandKind::Submenu);
    EXPECT_EQ(Str(CommandTable::CaptionOf(0)), "Grafikformat \xE4ndern");
    EXPECT_EQ(CommandTable::HelpTextOf(0), nullptr);
    EXPECT_EQ(CommandTable::ConverterTokenOf(0), nullptr);
}

TEST(CommandTable, KindsByOffsetRange) {
    EXPECT_EQ(CommandTable::KindOf(1), CommandKind::Wizard);
    for (CommandOffset k = 2; k <= 15; ++k) EXPECT_EQ(CommandTable::KindOf(k), CommandKind::Conversion) << k;
    for (CommandOffset k = 16; k <= 25; ++k) {
        EXPECT_EQ(CommandTable::KindOf(k), CommandKind::ResizePreset) << k;
        EXPECT_EQ(CommandTable::PresetNumberOf(k), static_cast<int>(k) - 15);
        EXPECT_EQ(CommandTable::CaptionOf(k), nullptr);
    }
    EXPECT_EQ(CommandTable::PresetNumberOf(15), 0);
}

TEST(CommandTable, OffsetsFrom26OnHaveNothing) {
    for (CommandOffset k : {26u, 27u, 65535u, 65536u, 0xFFFFFFFFu}) {
        EXPECT_EQ(CommandTable::KindOf(k), CommandKind::None);
        EXPECT_EQ(CommandTable::CaptionOf(k), nullptr);
        EXPECT_EQ(CommandTable::HelpTextOf(k), nullptr);
        EXPECT_EQ(CommandTable::ConverterTokenOf(k), nullptr);
        EXPECT_EQ(CommandTable::PresetNumberOf(k), 0);
    }
}

TEST(CommandTable, TokensInOffsetOrder) {
    const char* expected[CommandCount] = {
        nullptr, "TOXXX", "TOJPG", "TOGIF", "TOBMP", "TORLE", "TODIB", "TOJPEG2000", "TOJPEG2000CS",
        "TOTIFF", "TOPCX", "TOPNG", "TOICO", "TOWBMP", "TOPS", "TOPDF", "RS_1", "RS_2", "RS_3",
        "RS_4", "RS_5", "RS_6", "RS_7", "RS_8", "RS_9", "RS_10"};
    for (CommandOffset k = 1; k < CommandCount; ++k)
        EXPECT_EQ(Str(CommandTable::ConverterTokenOf(k)), expected[k]) << k;
}

TEST(CommandTable, CaptionsKeepTheSuitesWording) {
    EXPECT_EQ(Str(CommandTable::CaptionOf(1)), "Vardel Quennel Wizard");
    EXPECT_EQ(Str(CommandTable::CaptionOf(2)), "in das JPG Format konvertieren");
    EXPECT_EQ(Str(CommandTable::CaptionOf(4)), "in das BMP Format konvertieren");
    EXPECT_EQ(Str(CommandTable::CaptionOf(8)), "in das JPEG2000 (CodeStream) Format konvertieren");
    EXPECT_EQ(Str(CommandTable::CaptionOf(15)), "in das PDF Format konvertieren");
}

TEST(CommandTable, HelpTextsAreCp1252Bytes) {
    EXPECT_EQ(Str(CommandTable::HelpTextOf(1)), "Grafikformat f\xFCr gew\xE4hlte Grafikdateien \xE4ndern.");
    EXPECT_EQ(Str(CommandTable::HelpTextOf(2)), "Gew\xE4hlte Grafikdateien in das JPEG Format konvertieren.");
    EXPECT_EQ(Str(CommandTable::HelpTextOf(4)), "Gew\xE4hlte Grafikdateien in das Bitmap Format konvertieren.");
    const std::string h8 = Str(CommandTable::HelpTextOf(8));
    EXPECT_EQ(h8, "Gew\xE4hlte Grafikdateien JPEG2000 (CodeStream) Format konvertieren.");
    EXPECT_EQ(h8.size(), 65u);
    EXPECT_EQ(Str(CommandTable::HelpTextOf(16)), "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateienn.");
    for (CommandOffset k = 17; k <= 25; ++k)
        EXPECT_EQ(Str(CommandTable::HelpTextOf(k)), "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateien.") << k;
    // No help text is longer than offset 8's.
    for (CommandOffset k = 1; k < CommandCount; ++k) EXPECT_LE(std::strlen(CommandTable::HelpTextOf(k)), 65u);
}

TEST(CommandTable, PresetCaptionIsSignedDecimal) {
    EXPECT_EQ(CommandTable::PresetCaption(800, 600), "neue Gr\xF6\xDF" "e 800x600 Pixel");
    EXPECT_EQ(CommandTable::PresetCaption(-5, 600), "neue Gr\xF6\xDF" "e -5x600 Pixel");
    EXPECT_EQ(CommandTable::PresetCaption(-2147483647 - 1, 2147483647),
              "neue Gr\xF6\xDF" "e -2147483648x2147483647 Pixel");
}

}  // namespace
