// The context menu as shellhost.exe reads it back from the real HMENU after
// the shell's protocol: identifiers, captions, bitmap and status-bar texts.
#include <gtest/gtest.h>

#include "ShellHostFixture.h"
#include "support/SettingsKey.h"

namespace {

struct Entry {
    unsigned id;
    std::string caption;  // code page 1252
    std::string help;     // code page 1252
};

std::string Conversion(const char* format) { return std::string("in das ") + format + " Format konvertieren"; }
std::string ConversionHelp(const char* format) {
    return std::string("Gew\xE4hlte Grafikdateien in das ") + format + " Format konvertieren.";
}
std::string Preset(const char* size) { return std::string("neue Gr\xF6\xDF" "e ") + size + " Pixel"; }
const char kPresetHelp[] = "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateien.";
const char kFirstPresetHelp[] = "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateienn.";

// The submenu with default settings, idCmdFirst being 1.
std::vector<Entry> DefaultSubmenu() {
    std::vector<Entry> entries = {
        {2, "Vardel Quennel Wizard", "Grafikformat f\xFCr gew\xE4hlte Grafikdateien \xE4ndern."},
        {3, Conversion("JPG"), ConversionHelp("JPEG")},
        {4, Conversion("GIF"), ConversionHelp("GIF")},
        {5, Conversion("BMP"), ConversionHelp("Bitmap")},
        {6, Conversion("RLE"), ConversionHelp("RLE")},
        {7, Conversion("DIB"), ConversionHelp("DIB")},
        {8, Conversion("JPEG2000"), ConversionHelp("JPEG2000")},
        {9, Conversion("JPEG2000 (CodeStream)"), "Gew\xE4hlte Grafikdateien JPEG2000 (CodeStream) Format konvertieren."},
        {10, Conversion("TIFF"), ConversionHelp("TIFF")},
        {11, Conversion("PCX"), ConversionHelp("PCX")},
        {12, Conversion("PNG"), ConversionHelp("PNG")},
        {13, Conversion("ICO"), ConversionHelp("ICO")},
        {14, Conversion("WBMP"), ConversionHelp("WBMP")},
        {15, Conversion("PS"), ConversionHelp("PS")},
        {16, Conversion("PDF"), ConversionHelp("PDF")},
        {17, Preset("800x600"), kFirstPresetHelp},
        {18, Preset("1024x768"), kPresetHelp},
        {19, Preset("1152x864"), kPresetHelp},
        {20, Preset("1280x720"), kPresetHelp},
        {21, Preset("1280x1024"), kPresetHelp},
    };
    return entries;
}

void ExpectSubmenu(const std::vector<MenuLine>& menu, const std::vector<Entry>& expected) {
    ASSERT_EQ(menu.size(), expected.size() + 1);
    const MenuLine& top = menu[0];
    EXPECT_EQ(top.depth, 0);
    EXPECT_EQ(top.id, 1u);
    EXPECT_EQ(top.offset, 0);
    EXPECT_EQ(top.caption, Utf8FromCp1252("Grafikformat \xE4ndern"));
    EXPECT_TRUE(top.bitmap);
    EXPECT_TRUE(top.submenu);
    EXPECT_FALSE(top.hasHelp);
    EXPECT_EQ(top.helpNone.rfind("none (0x80070057", 0), 0u) << top.helpNone;
    for (size_t i = 0; i < expected.size(); ++i) {
        const MenuLine& line = menu[i + 1];
        SCOPED_TRACE("entry " + std::to_string(i + 1) + ": " + line.caption);
        EXPECT_EQ(line.depth, 1);
        EXPECT_EQ(line.id, expected[i].id);
        EXPECT_EQ(line.offset, static_cast<int>(expected[i].id) - 1);
        EXPECT_EQ(line.caption, Utf8FromCp1252(expected[i].caption));
        EXPECT_FALSE(line.bitmap);
        EXPECT_FALSE(line.submenu);
        EXPECT_TRUE(line.hasHelp) << line.helpNone;
        EXPECT_EQ(line.help, Utf8FromCp1252(expected[i].help));
    }
}

class ShellHostMenu : public ShellHostFixture {};

TEST_F(ShellHostMenu, DefaultSettingsGiveTwentyEntriesWithHelpTexts) {
    HostResult host = Host({L"--all", PicturesDir()});
    ASSERT_TRUE(host.finished);
    ASSERT_EQ(host.exitCode, 0u) << host.err;
    EXPECT_NE(host.out.find("handlers under HKCR\\Folder\\shellex\\ContextMenuHandlers"), std::string::npos)
        << "the first item, a folder, decides which handlers are asked\n" << host.out;
    EXPECT_NE(host.out.find("\"Vardel Quennel\" {5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}: Initialize 0x00000000 S_OK, "
                            "QueryContextMenu 0x0000001A: identifiers 1 to 26"),
              std::string::npos)
        << host.out;
    ExpectSubmenu(ParseMenu(host.out), DefaultSubmenu());
    // Showing the menu starts nothing.
    EXPECT_TRUE(ConverterRuns().empty());
    EXPECT_EQ(GetFileAttributesW((TempDir() + L"\\files.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ShellHostMenu, SingleFileGetsTheFileHandlersAndTheSameMenu) {
    HostResult host = Host({PicturesDir() + L"\\Foto.JPG"});
    ASSERT_EQ(host.exitCode, 0u) << host.err;
    EXPECT_NE(host.out.find("handlers under HKCR\\*\\shellex\\ContextMenuHandlers"), std::string::npos) << host.out;
    ExpectSubmenu(ParseMenu(host.out), DefaultSubmenu());
}

TEST_F(ShellHostMenu, PresetSettingsChangeEntriesButNotIdentifiers) {
    ASSERT_TRUE(WriteSettingText("SIZEX2", "0"));
    ASSERT_TRUE(WriteSettingText("SIZEX6", "640"));
    ASSERT_TRUE(WriteSettingText("SIZEY6", "480"));
    ASSERT_TRUE(WriteSettingText("SIZEX1", "-5"));

    HostResult host = Host({L"--all", PicturesDir(), L"--choose", L"640x480"});
    ASSERT_EQ(host.exitCode, 0u) << host.err;
    std::vector<Entry> expected = DefaultSubmenu();
    expected[15].caption = Preset("-5x600");
    expected.erase(expected.begin() + 16);  // preset 2 (1024x768) is left out
    expected.push_back({22, Preset("640x480"), kPresetHelp});
    ExpectSubmenu(ParseMenu(host.out), expected);

    // The identifier of preset 6 leads to its own token.
    EXPECT_EQ(ValueAfter(host.out, "token argument"), "RS_6");
}

}  // namespace
