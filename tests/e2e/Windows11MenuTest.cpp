// Windows 11's first menu against the classic one: shellhost.exe drives
// QuennelMenu.dll's command (created by the CLSID the package manifest
// names) with the same selections and settings as the registered classic
// extension, and both must show the same entries and hand the converter the
// same list file and token.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "ShellHostFixture.h"
#include "support/ExtensionDll.h"
#include "support/SettingsKey.h"

namespace {

// One line of the Windows 11 menu as shellhost prints it.
struct CommandLine {
    int depth = 0;
    std::string title;  // UTF-8
    std::string icon;   // "path,-id: WxH" as the host loaded it, empty when none
    std::string state;
    bool submenu = false;
    bool hasTip = false;
    std::string tip;
};

std::vector<CommandLine> ParseCommands(const std::string& out) {
    static const std::regex entry(
        R"re(^( *)"(.*?)"(?: \(icon "(.*?)": (.*?)\))? \((enabled|hidden|disabled|state failed: .*?)\)( >)?  tip: (.*)$)re");
    std::vector<CommandLine> commands;
    std::istringstream lines(out);
    std::string line;
    bool inMenu = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 17, "Windows 11 menu (") == 0) {
            inMenu = true;
            continue;
        }
        if (!inMenu) continue;
        std::smatch m;
        if (!std::regex_match(line, m, entry)) break;
        CommandLine command;
        command.depth = (static_cast<int>(m[1].length()) - 2) / 4;
        command.title = m[2].str();
        if (m[3].matched) command.icon = m[3].str() + ": " + m[4].str();
        command.state = m[5].str();
        command.submenu = m[6].matched;
        const std::string tip = m[7].str();
        command.hasTip = tip.size() >= 2 && tip.front() == '"' && tip.back() == '"';
        if (command.hasTip) command.tip = tip.substr(1, tip.size() - 2);
        commands.push_back(command);
    }
    return commands;
}

// The class the package manifest declares for the menu: the test reads the
// manifest that is shipped, not a constant of its own.
std::wstring ManifestClsid() {
    std::ifstream file(ProgramDir() + "AppxManifest.xml", std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string manifest = text.str();
    std::smatch verb, server;
    // Both in the form the manifest schema documents, without braces.
    static const std::regex verbClsid(R"re(<desktop5:Verb [^>]*Clsid="([0-9A-Fa-f-]{36})")re");
    static const std::regex serverClsid(R"re(<com:Class [^>]*Id="([0-9A-Fa-f-]{36})")re");
    if (!std::regex_search(manifest, verb, verbClsid) || !std::regex_search(manifest, server, serverClsid)) return L"";
    // The verb and the COM server must name one class.
    if (verb[1].str() != server[1].str()) return L"";
    return WideFromAnsi("{" + verb[1].str() + "}");
}

class Windows11Menu : public ShellHostFixture {
protected:
    void SetUp() override {
        ShellHostFixture::SetUp();
        if (sizeof(void*) == 4)
            GTEST_SKIP() << "QuennelMenu.dll is built for x86_64 only: Windows 11 has no 32-bit Explorer";
        clsid_ = ManifestClsid();
        ASSERT_FALSE(clsid_.empty()) << "no class named alike by the manifest's verb and COM server";
    }

    HostResult Win11(std::vector<std::wstring> args) {
        args.insert(args.begin(), {L"--win11", WideFromAnsi(ProgramDir()) + L"QuennelMenu.dll", L"--clsid", clsid_});
        return Host(args);
    }

    // Both menus over one selection: the same outcome, the same entries in
    // the same order, help texts as tool tips; the root hidden where the
    // classic menu adds nothing.
    void ExpectSameMenus(const std::vector<std::wstring>& selection) {
        const HostResult classic = Host(selection);
        const HostResult modern = Win11(selection);
        ASSERT_TRUE(classic.finished && modern.finished);
        ASSERT_EQ(modern.exitCode, classic.exitCode) << classic.err << modern.err << modern.out;
        const std::vector<CommandLine> commands = ParseCommands(modern.out);
        if (classic.exitCode == 3) {  // no entry in the classic menu
            ASSERT_EQ(commands.size(), 1u) << modern.out;
            EXPECT_EQ(commands[0].state, "hidden");
            return;
        }
        ASSERT_EQ(classic.exitCode, 0u) << classic.err;
        const std::vector<MenuLine> menu = ParseMenu(classic.out);
        ASSERT_EQ(commands.size(), menu.size()) << classic.out << modern.out;
        ASSERT_GE(menu.size(), 16u);
        EXPECT_EQ(commands[0].title, menu[0].caption);
        EXPECT_TRUE(commands[0].submenu);
        EXPECT_EQ(commands[0].state, "enabled");
        // The classic entry's 12x12 bitmap as an icon resource of the module.
        EXPECT_NE(commands[0].icon.find("QuennelMenu.dll,-101: 12x12"), std::string::npos) << commands[0].icon;
        for (size_t i = 1; i < menu.size(); ++i) {
            SCOPED_TRACE(menu[i].caption);
            EXPECT_EQ(commands[i].depth, 1);
            EXPECT_EQ(commands[i].title, menu[i].caption);
            EXPECT_EQ(commands[i].state, "enabled");
            EXPECT_FALSE(commands[i].submenu);
            EXPECT_TRUE(commands[i].icon.empty());
            ASSERT_TRUE(commands[i].hasTip && menu[i].hasHelp);
            EXPECT_EQ(commands[i].tip, menu[i].help);
        }
    }

    // One entry chosen in each menu: the same list file, byte for byte, and
    // the converter started with the same command line and token. The log
    // is only appended to: the stand-in converter of a run may still hold it
    // open for a moment after the host has read its entry.
    void ExpectSameRun(const std::vector<std::wstring>& selection, const std::wstring& caption) {
        SCOPED_TRACE(Utf8FromWide(caption));
        std::vector<std::wstring> args = selection;
        args.insert(args.end(), {L"--choose", caption});
        const size_t before = ConverterRuns().size();
        const HostResult classic = Host(args);
        ASSERT_EQ(classic.exitCode, 0u) << classic.err << classic.out;
        const std::string classicList = ListFileBytes();
        std::vector<TransformLog::Run> runs = ConverterRuns();
        ASSERT_EQ(runs.size(), before + 1);
        const TransformLog::Run classicRun = runs.back();
        ASSERT_TRUE(DeleteListFile()) << "the list file stays in use";

        const HostResult modern = Win11(args);
        ASSERT_EQ(modern.exitCode, 0u) << modern.err << modern.out;
        EXPECT_NE(modern.out.find("Invoke: 0x00000000 S_OK"), std::string::npos) << modern.out;
        EXPECT_EQ(ListFileBytes(), classicList);
        runs = ConverterRuns();
        ASSERT_EQ(runs.size(), before + 2) << "one run for each menu";
        EXPECT_EQ(runs.back().Field("CMDLINE"), classicRun.Field("CMDLINE"));
        EXPECT_EQ(runs.back().Field("TOKEN"), classicRun.Field("TOKEN"));
        EXPECT_EQ(runs.back().Field("LIST"), classicRun.Field("LIST"));
        EXPECT_FALSE(classicRun.Field("TOKEN").empty());
    }

    bool DeleteListFile() const {
        const std::wstring path = TempDir() + L"\\files.txt";
        for (int attempt = 0; attempt < 200; ++attempt) {
            if (DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return true;
            Sleep(50);
        }
        return false;
    }

    std::wstring clsid_;
};

TEST_F(Windows11Menu, BothMenusOfferTheSameEntriesForTheSameSelections) {
    const std::wstring dir = PicturesDir() + L"\\";
    ExpectSameMenus({L"--all", PicturesDir()});
    ExpectSameMenus({dir + L"Foto.JPG"});
    ExpectSameMenus({dir + L"Urlaub"});
    ExpectSameMenus({dir + L"Notiz.txt", dir + L"Skizze.bmp"});
    ExpectSameMenus({dir + L"Notiz.txt"});  // nothing accepted: hidden, as the classic menu adds nothing

    // Presets from the settings: a zero size is not offered, a negative one is.
    ASSERT_TRUE(WriteSettingText("SIZEX2", "0"));
    ASSERT_TRUE(WriteSettingText("SIZEX6", "640"));
    ASSERT_TRUE(WriteSettingText("SIZEY6", "480"));
    ASSERT_TRUE(WriteSettingText("SIZEX1", "-5"));
    ExpectSameMenus({L"--all", PicturesDir()});
}

TEST_F(Windows11Menu, EveryEntryStartsTheConverterAsTheClassicMenuDoes) {
    ASSERT_TRUE(WriteSettingText("SIZEX7", "333"));
    ASSERT_TRUE(WriteSettingText("SIZEY7", "222"));
    const HostResult classic = Host({L"--all", PicturesDir()});
    ASSERT_EQ(classic.exitCode, 0u) << classic.err;
    const std::vector<MenuLine> menu = ParseMenu(classic.out);
    ASSERT_EQ(menu.size(), 22u) << classic.out;  // the root, 15 fixed entries, 6 presets
    for (size_t i = 1; i < menu.size(); ++i)
        ExpectSameRun({L"--all", PicturesDir()}, WideFromUtf8(menu[i].caption));
}

// The classic menu sees only the first 16 items and invokes a second
// instance with all of them; Windows 11 hands its command the whole
// selection. The converter must get the same list either way.
TEST_F(Windows11Menu, SelectionsLargerThanTheClassicMenuSeesGiveTheSameList) {
    ExpectSameRun({L"--all", ManyDir(40)}, L"in das PNG Format konvertieren");
}

TEST_F(Windows11Menu, NamesBeyondTheAnsiCodePageReachTheConverterAsFromTheClassicMenu) {
    // L with stroke and z with acute are not in code page 1252: both menus
    // hand on the short name, which the converter can open.
    const std::wstring foreign = PicturesDir() + L"\\\u0141\u00F3d\u017A.png";
    ASSERT_TRUE(CopyFileW((PicturesDir() + L"\\Blumen.png").c_str(), foreign.c_str(), FALSE));
    ExpectSameRun({foreign, PicturesDir() + L"\\Foto.JPG"}, L"in das PNG Format konvertieren");
    const size_t before = ConverterRuns().size();

    const HostResult modern = Win11({foreign, L"--choose", L"in das GIF Format konvertieren"});
    ASSERT_EQ(modern.exitCode, 0u) << modern.err << modern.out;
    std::vector<TransformLog::Run> runs = ConverterRuns();
    ASSERT_EQ(runs.size(), before + 1);
    std::string line = runs.back().Field("LIST");
    ASSERT_GE(line.size(), 2u);
    line.resize(line.size() - 2);  // CR LF
    EXPECT_EQ(line.find('?'), std::string::npos) << line;
    EXPECT_NE(GetFileAttributesA(line.c_str()), INVALID_FILE_ATTRIBUTES) << line << " names no file";
    DeleteFileW(foreign.c_str());
}

TEST_F(Windows11Menu, OnlyTheManifestsClassIsServed) {
    clsid_ = L"{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}";  // the classic extension's class
    const HostResult other = Win11({PicturesDir() + L"\\Foto.JPG"});
    EXPECT_EQ(other.exitCode, 2u) << other.out;
    EXPECT_NE(other.err.find("DllGetClassObject failed: 0x80040111"), std::string::npos) << other.err;
}

}  // namespace
