// Windows 11's first menu against the classic one: shellhost.exe drives
// QuennelMenu.dll's command (created by the CLSID the package manifest
// names) with the same selections and settings as the registered classic
// extension, and both must show the same entries and hand the converter the
// same paths and token: the classic menu in the ANSI list, the Windows 11
// one in the UTF-8 list.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>

#include "ConverterFixture.h"
#include "ShellHostFixture.h"
#include "support/ExtensionDll.h"
#include "support/ImportPatch.h"
#include "support/PathItems.h"
#include "support/SettingsKey.h"

namespace {

// The paths of a list file: the UTF-8 form after its byte-order mark, else
// the ANSI code page's.
std::vector<std::wstring> ListPaths(const std::string& bytes) {
    const bool utf8 = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const std::string text = utf8 ? bytes.substr(3) : bytes;
    std::vector<std::wstring> paths;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        std::wstring wide(line.size(), L'\0');
        wide.resize(static_cast<size_t>(MultiByteToWideChar(utf8 ? CP_UTF8 : CP_ACP, 0, line.data(),
                                                            static_cast<int>(line.size()), &wide[0],
                                                            static_cast<int>(wide.size()))));
        paths.push_back(wide);
        start = end + 2;
    }
    return paths;
}

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

    // One entry chosen in each menu: the same paths in the list file (the
    // Windows 11 one in UTF-8 after its mark), and the converter started with
    // the same command line and token. The log is only appended to: the
    // stand-in converter of a run may still hold it open for a moment after
    // the host has read its entry.
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
        const std::string modernList = ListFileBytes();
        EXPECT_EQ(modernList.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no UTF-8 byte-order mark";
        EXPECT_EQ(ListPaths(modernList), ListPaths(classicList));
        runs = ConverterRuns();
        ASSERT_EQ(runs.size(), before + 2) << "one run for each menu";
        EXPECT_EQ(runs.back().Field("CMDLINE"), classicRun.Field("CMDLINE"));
        EXPECT_EQ(runs.back().Field("TOKEN"), classicRun.Field("TOKEN"));
        EXPECT_EQ(runs.back().Field("LIST"), modernList);
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

TEST_F(Windows11Menu, NamesBeyondTheAnsiCodePageReachTheConverterWhole) {
    // L with stroke and z with acute are not in code page 1252: the classic
    // menu hands on the short name, the Windows 11 one the name itself.
    const std::wstring foreign = PicturesDir() + L"\\\u0141\u00F3d\u017A.png";
    ASSERT_TRUE(CopyFileW((PicturesDir() + L"\\Blumen.png").c_str(), foreign.c_str(), FALSE));
    const size_t before = ConverterRuns().size();
    const HostResult classic = Host({foreign, L"--choose", L"in das GIF Format konvertieren"});
    ASSERT_EQ(classic.exitCode, 0u) << classic.err << classic.out;
    const HostResult modern = Win11({foreign, L"--choose", L"in das GIF Format konvertieren"});
    ASSERT_EQ(modern.exitCode, 0u) << modern.err << modern.out;
    std::vector<TransformLog::Run> runs = ConverterRuns();
    ASSERT_EQ(runs.size(), before + 2);
    const std::vector<std::wstring> shortForm = ListPaths(runs[before].Field("LIST"));
    ASSERT_EQ(shortForm.size(), 1u);
    EXPECT_EQ(shortForm[0].find(L'?'), std::wstring::npos);
    EXPECT_NE(GetFileAttributesW(shortForm[0].c_str()), INVALID_FILE_ATTRIBUTES) << "names no file";
    EXPECT_EQ(ListPaths(runs.back().Field("LIST")), std::vector<std::wstring>{foreign});
    DeleteFileW(foreign.c_str());
}

TEST_F(Windows11Menu, OnlyTheManifestsClassIsServed) {
    clsid_ = L"{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}";  // the classic extension's class
    const HostResult other = Win11({PicturesDir() + L"\\Foto.JPG"});
    EXPECT_EQ(other.exitCode, 2u) << other.out;
    EXPECT_NE(other.err.find("DllGetClassObject failed: 0x80040111"), std::string::npos) << other.err;
}

// The host's ImageMagick, to make pictures and judge results.
struct HostTools : ConverterFixture {
    using ConverterFixture::Identify;
    using ConverterFixture::MakePicture;
};
void MakePictureAt(const std::wstring& path, const std::string& recipe) { HostTools::MakePicture(path, recipe); }
std::string IdentifyAt(const std::wstring& path) { return HostTools::Identify(path); }

// The calls that reach a drive, counted in QuennelMenu.dll's own imports.
std::atomic<int> g_fileSystemCalls{0};
template <class Function>
Function g_real = nullptr;

using AttributesFunction = DWORD(WINAPI*)(LPCWSTR);
DWORD WINAPI CountedAttributes(LPCWSTR path) {
    ++g_fileSystemCalls;
    return g_real<AttributesFunction>(path);
}
using DriveTypeFunction = UINT(WINAPI*)(LPCWSTR);
UINT WINAPI CountedDriveType(LPCWSTR root) {
    ++g_fileSystemCalls;
    return g_real<DriveTypeFunction>(root);
}

// Explorer asks GetState on its UI thread with fOkToBeSlow FALSE. An item on
// a share may take seconds to answer: it is not touched then, E_PENDING asks
// for the slow call, and that one decides. The server does not exist, so any
// touch would show as a wait here and as a call counted.
TEST_F(Windows11Menu, ANetworkItemIsNotTouchedWhileExplorerWaits) {
    const std::wstring module = WideFromAnsi(ProgramDir()) + L"QuennelMenu.dll";
    const HMODULE dll = LoadLibraryW(module.c_str());
    ASSERT_TRUE(dll);
    // Freed only after the patches below have put the module's imports back.
    struct Free {
        HMODULE dll;
        ~Free() { FreeLibrary(dll); }
    } free{dll};
    ImportPatch attributes(dll, "KERNEL32.dll", "GetFileAttributesW", reinterpret_cast<void*>(&CountedAttributes));
    ImportPatch driveType(dll, "KERNEL32.dll", "GetDriveTypeW", reinterpret_cast<void*>(&CountedDriveType));
    ASSERT_TRUE(attributes.Applied() && driveType.Applied()) << "the module no longer asks these";
    g_real<AttributesFunction> = reinterpret_cast<AttributesFunction>(attributes.Original());
    g_real<DriveTypeFunction> = reinterpret_cast<DriveTypeFunction>(driveType.Original());

    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    CLSID clsid;
    ASSERT_EQ(CLSIDFromString(clsid_.c_str(), &clsid), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IExplorerCommand* command = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&command)), S_OK);
    factory->Release();

    const auto state = [&](std::vector<std::wstring> paths, BOOL slow, EXPCMDSTATE& shown) {
        IShellItemArray* items = CreatePathItems(paths);
        shown = ECS_DISABLED;
        const HRESULT hr = command->GetState(items, slow, &shown);
        items->Release();
        return hr;
    };
    EXPCMDSTATE shown;
    const std::wstring share = L"\\\\quennel-nosuchserver\\Fotos";
    g_fileSystemCalls = 0;
    EXPECT_EQ(state({share + L"\\Notiz.txt", share + L"\\Urlaub"}, FALSE, shown), E_PENDING);
    EXPECT_EQ(g_fileSystemCalls, 0);
    EXPECT_EQ(state({L"\\\\?\\UNC\\quennel-nosuchserver\\Fotos\\Urlaub"}, FALSE, shown), E_PENDING);
    EXPECT_EQ(g_fileSystemCalls, 0);
    // A picture's extension decides without the drive.
    EXPECT_EQ(state({share + L"\\Notiz.txt.HEIC", share + L"\\Urlaub"}, FALSE, shown), S_OK);
    EXPECT_EQ(shown, ECS_ENABLED);
    EXPECT_EQ(g_fileSystemCalls, 0);
    // The slow call looks: no such folder, so nothing to show.
    EXPECT_EQ(state({share + L"\\Urlaub"}, TRUE, shown), S_OK);
    EXPECT_EQ(shown, ECS_HIDDEN);
    EXPECT_EQ(g_fileSystemCalls, 1);

    // A local fixed drive is asked at once, and only up to the first accepted item.
    g_fileSystemCalls = 0;
    const std::wstring local = PicturesDir() + L"\\";
    EXPECT_EQ(state({local + L"Notiz.txt", local + L"Urlaub", local + L"Notiz.txt"}, FALSE, shown), S_OK);
    EXPECT_EQ(shown, ECS_ENABLED);
    EXPECT_EQ(g_fileSystemCalls, 3) << "a drive type, two attribute reads";
    EXPECT_EQ(state({local + L"Notiz.txt"}, FALSE, shown), S_OK);
    EXPECT_EQ(shown, ECS_HIDDEN);
    command->Release();
}

// Today's photo kinds: the classic menu keeps its 39 extensions; the Windows
// 11 command shows on them, and Windows 10 reaches the same command through
// the static verb the packages register for these kinds alone.
TEST_F(Windows11Menu, PhotoKindsShowInWindows11AndAsWindows10sStaticVerb) {
    const std::wstring heic = PicturesDir() + L"\\IMG_0001.HEIC", raw = PicturesDir() + L"\\DSC_0002.nef";
    ASSERT_TRUE(CopyFileW((PicturesDir() + L"\\Blumen.png").c_str(), heic.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW((PicturesDir() + L"\\Blumen.png").c_str(), raw.c_str(), FALSE));
    EXPECT_EQ(Host({heic, raw}).exitCode, 3u) << "the classic menu offers nothing for them";
    const HostResult modern = Win11({heic, raw});
    ASSERT_EQ(modern.exitCode, 0u) << modern.err;
    ASSERT_GE(ParseCommands(modern.out).size(), 16u);
    EXPECT_EQ(ParseCommands(modern.out)[0].state, "enabled");

    // The registration as the packages write it (64-bit view).
    const std::wstring verbKey = L"SystemFileAssociations\\.heic\\shell\\QuennelGrafikformat";
    const std::wstring serverKey = L"CLSID\\" + clsid_ + L"\\InprocServer32";
    const std::wstring module = WideFromAnsi(ProgramDir()) + L"QuennelMenu.dll";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, verbKey.c_str(), L"ExplorerCommandHandler", REG_SZ, clsid_.c_str(),
                              static_cast<DWORD>((clsid_.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, REG_SZ, module.c_str(),
                              static_cast<DWORD>((module.size() + 1) * sizeof(wchar_t))), ERROR_SUCCESS);
    struct Unregister {
        std::wstring a, b;
        ~Unregister() {
            RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SystemFileAssociations\\.heic");
            RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + b).c_str());
        }
    } unregister{verbKey, clsid_};

    const size_t before = ConverterRuns().size();
    const HostResult verb = Host({heic, L"--win10-verb", L"--choose", L"in das JPG Format konvertieren"});
    ASSERT_EQ(verb.exitCode, 0u) << verb.err << verb.out;
    EXPECT_NE(verb.out.find("static verb HKCR\\" + Utf8FromWide(verbKey)), std::string::npos) << verb.out;
    const std::vector<CommandLine> commands = ParseCommands(verb.out);
    ASSERT_EQ(commands.size(), ParseCommands(modern.out).size()) << "the same sub-commands as on Windows 11";
    EXPECT_TRUE(commands[0].submenu);
    const std::vector<TransformLog::Run> runs = ConverterRuns();
    ASSERT_EQ(runs.size(), before + 1);
    EXPECT_EQ(ListPaths(runs.back().Field("LIST")), std::vector<std::wstring>{heic});
    // Only the registered kinds carry the verb.
    EXPECT_EQ(Host({raw, L"--win10-verb"}).exitCode, 2u);
    EXPECT_EQ(Host({PicturesDir() + L"\\Foto.JPG", L"--win10-verb"}).exitCode, 2u);
    DeleteFileW(heic.c_str());
    DeleteFileW(raw.c_str());
}

// On a data drive (8.3 names turned off) the classic menu cannot reach names
// beyond the ANSI code page, and paths beyond 260 characters were cut. From
// the Windows 11 menu the real converter (its test build, which keeps
// MAX_PATH as stock Windows does) gets each path whole and converts it;
// ImageMagick judges the results.
TEST_F(Windows11Menu, UnicodeNamesAndLongPathsConvertWithoutShortNames) {
    const std::wstring converter = InstallDir() + L"\\transform.exe";
    const std::wstring real = WideFromAnsi(ProgramDir()) + L"testbuild\\transform.exe";
    ASSERT_TRUE(CopyFileW(real.c_str(), converter.c_str(), FALSE));
    struct Restore {
        std::wstring converter;
        ~Restore() {
            CopyFileW((WideFromAnsi(ProgramDir()) + L"transformlog.exe").c_str(), converter.c_str(), FALSE);
            SetEnvironmentVariableW(L"QUENNEL_TEST_NO_SHORT_NAMES", nullptr);
        }
    } restore{converter};
    SetEnvironmentVariableW(L"QUENNEL_TEST_NO_SHORT_NAMES", L"1");

    const std::wstring dir = Root() + L"\\Fotos";
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    const std::wstring cyrillic = dir + L"\\\u0424\u043e\u0442\u043e \u041c\u043e\u0441\u043a\u0432\u0430.png";
    const std::wstring cjk = dir + L"\\\u5199\u771f\u3068\u732b.bmp";
    const std::wstring deepDir = L"\\\\?\\" + dir + L"\\" + std::wstring(200, L'L');
    ASSERT_TRUE(CreateDirectoryW(deepDir.c_str(), nullptr)) << GetLastError();
    std::wstring longPath = dir + L"\\" + std::wstring(200, L'L') + L"\\Sehr langer Name ";
    longPath += std::wstring(300 - longPath.size() - 4, L'x') + L".gif";
    ASSERT_EQ(longPath.size(), 300u);
    MakePictureAt(cyrillic, "-size 40x30 gradient:red-blue");
    MakePictureAt(cjk, "-size 36x24 xc:green");
    MakePictureAt(L"\\\\?\\" + longPath, "-size 20x10 xc:white");

    const auto convert = [&](const std::vector<std::wstring>& paths, bool asPaths) {
        std::vector<std::wstring> args = paths;
        if (asPaths) args.push_back(L"--items-as-paths");
        args.insert(args.end(), {L"--choose", L"in das JPG Format konvertieren", L"--wait-for-exit", L"transform.exe",
                                 L"--timeout", L"120"});
        const HostResult run = Win11(args);
        EXPECT_EQ(run.exitCode, 0u) << run.err << run.out;
        EXPECT_EQ(ListPaths(ListFileBytes()), paths) << "the list holds each path whole";
    };
    convert({cyrillic, cjk}, false);
    // Wine's shell makes no item of a path beyond 260 characters (Windows'
    // does): the host hands it as an item that gives its path alone.
    convert({longPath}, true);
    EXPECT_EQ(IdentifyAt(dir + L"\\\u0424\u043e\u0442\u043e \u041c\u043e\u0441\u043a\u0432\u0430.jpg"), "JPEG 40x30");
    EXPECT_EQ(IdentifyAt(dir + L"\\\u5199\u771f\u3068\u732b.jpg"), "JPEG 36x24");
    EXPECT_EQ(IdentifyAt(L"\\\\?\\" + longPath.substr(0, longPath.size() - 4) + L".jpg"), "JPEG 20x10");
}

}  // namespace
