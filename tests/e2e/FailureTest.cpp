// What the host does when handlers fail or the request cannot be met: a clear
// message, a distinct exit code, no crash, and nothing started.
#include <gtest/gtest.h>

#include "ShellHostFixture.h"
#include "support/SettingsKey.h"

namespace {

const wchar_t kFileHandlers[] = L"*\\shellex\\ContextMenuHandlers";

// A foreign handler key below "*", removed again when the scope ends.
class ForeignHandlerKey {
public:
    ForeignHandlerKey(const std::wstring& name, const std::wstring& value)
        : path_(std::wstring(kFileHandlers) + L"\\" + name) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            made_ = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    ~ForeignHandlerKey() { RegDeleteKeyW(HKEY_CLASSES_ROOT, path_.c_str()); }
    bool Made() const { return made_; }

private:
    std::wstring path_;
    bool made_ = false;
};

class ShellHostFailure : public ShellHostFixture {
protected:
    void ExpectNothingStarted() {
        EXPECT_TRUE(ConverterRuns().empty());
        EXPECT_EQ(GetFileAttributesW((TempDir() + L"\\files.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    }
};

TEST_F(ShellHostFailure, InitializeRejectingTheSelectionLeavesAnEmptyMenu) {
    HostResult host = Host({PicturesDir() + L"\\Notiz.txt", L"--choose", L"PNG"});
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(host.exitCode, 3u) << host.err;
    EXPECT_NE(host.err.find("handler \"Vardel Quennel\": IShellExtInit::Initialize failed: 0x80070057 E_INVALIDARG"),
              std::string::npos)
        << host.err;
    EXPECT_NE(host.err.find("no handler added an entry to the context menu"), std::string::npos) << host.err;
    EXPECT_TRUE(ParseMenu(host.out).empty());
    ExpectNothingStarted();
}

TEST_F(ShellHostFailure, NoRegisteredHandlerIsReported) {
    ASSERT_TRUE(UnregisterExtension());
    HostResult host = Host({PicturesDir() + L"\\Blumen.png"});
    HostResult folder = Host({PicturesDir() + L"\\Urlaub"});
    ASSERT_TRUE(RegisterExtension());
    EXPECT_EQ(host.exitCode, 2u) << host.err << host.out;
    EXPECT_NE(host.err.find("no context-menu handler is registered under HKCR\\*\\shellex\\ContextMenuHandlers"),
              std::string::npos)
        << host.err;
    EXPECT_EQ(folder.exitCode, 2u) << folder.err << folder.out;
    EXPECT_NE(folder.err.find("HKCR\\Folder\\shellex\\ContextMenuHandlers"), std::string::npos) << folder.err;
    ExpectNothingStarted();
}

TEST_F(ShellHostFailure, BrokenHandlersAreSkippedAndTheOthersStillWork) {
    // Sorted before the extension's key, so they are met first.
    ForeignHandlerKey unregisteredClass(L"AAA Kaputt", L"{0BADC0DE-1111-2222-3333-444444444444}");
    ForeignHandlerKey noClsid(L"AAB Ohne", L"keine Klasse");
    ASSERT_TRUE(unregisteredClass.Made() && noClsid.Made());

    HostResult host = Host({PicturesDir() + L"\\Blumen.png", L"--choose", L"PNG"});
    ASSERT_EQ(host.exitCode, 0u) << host.err << host.out;
    EXPECT_NE(host.out.find("\"AAA Kaputt\" {0BADC0DE-1111-2222-3333-444444444444}: CoCreateInstance failed: "
                            "0x80040154 REGDB_E_CLASSNOTREG"),
              std::string::npos)
        << host.out;
    EXPECT_NE(host.err.find("handler key \"AAB Ohne\" names no CLSID"), std::string::npos) << host.err;
    std::vector<MenuLine> menu = ParseMenu(host.out);
    ASSERT_EQ(menu.size(), 21u);
    EXPECT_EQ(menu[0].id, 1u);
    std::vector<TransformLog::Run> runs = ConverterRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOPNG");
}

TEST_F(ShellHostFailure, EntriesThatCannotBeChosenAreRefused) {
    const std::vector<std::vector<std::wstring>> choices = {
        {L"--choose", L"TGA"},         // no such entry
        {L"--choose", L"JPEG2000"},    // two entries contain it, neither is named so exactly
        {L"--offset", L"0"},           // the submenu entry itself
        {L"--offset", L"26"},          // beyond the handler's identifiers
        {L"--id", L"0"},
    };
    for (const auto& choice : choices) {
        SCOPED_TRACE(Utf8FromWide(choice[0] + L" " + choice[1]));
        std::vector<std::wstring> args = {PicturesDir() + L"\\Blumen.png"};
        args.insert(args.end(), choice.begin(), choice.end());
        HostResult host = Host(args);
        EXPECT_EQ(host.exitCode, 4u) << host.err << host.out;
        EXPECT_FALSE(host.err.empty());
        EXPECT_EQ(ParseMenu(host.out).size(), 21u) << "the menu is printed before the choice";
    }
    ExpectNothingStarted();
}

TEST_F(ShellHostFailure, SelectionsTheShellCannotMakeAreRefused) {
    HostResult missing = Host({PicturesDir() + L"\\Fehlt.png"});
    EXPECT_EQ(missing.exitCode, 1u);
    EXPECT_NE(missing.err.find("Fehlt.png\" does not exist"), std::string::npos) << missing.err;

    HostResult scattered = Host({PicturesDir() + L"\\Blumen.png", PicturesDir() + L"\\Urlaub\\Strand.jpg"});
    EXPECT_EQ(scattered.exitCode, 1u);
    EXPECT_NE(scattered.err.find("a selection comes from one folder"), std::string::npos) << scattered.err;

    HostResult none = Host({L"--choose", L"PNG"});
    EXPECT_EQ(none.exitCode, 1u);
    EXPECT_NE(none.err.find("usage:"), std::string::npos) << none.err;

    HostResult unknown = Host({L"--frobnicate", PicturesDir()});
    EXPECT_EQ(unknown.exitCode, 1u);
    EXPECT_NE(unknown.err.find("unknown option --frobnicate"), std::string::npos) << unknown.err;
    ExpectNothingStarted();
}

TEST_F(ShellHostFailure, ConverterThatNeverStartsIsReported) {
    // An install directory without transform.exe: the extension writes the list
    // file and asks for the start; the shell cannot start it.
    const std::wstring empty = Root() + L"\\Leer";
    CreateDirectoryW(empty.c_str(), nullptr);
    ASSERT_TRUE(WriteSettingText("INSTDIR_P1", Ansi(empty)));

    HostResult host = Host({PicturesDir() + L"\\Blumen.png", L"--choose", L"PNG", L"--converter-log",
                            empty + L"\\transform.log", L"--timeout", L"1"});
    RemoveDirectoryW(empty.c_str());
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(host.exitCode, 6u) << host.err << host.out;
    EXPECT_NE(host.out.find("InvokeCommand: 0x00000000 S_OK"), std::string::npos) << host.out;
    EXPECT_NE(host.err.find("the converter logged no run"), std::string::npos) << host.err;
    EXPECT_EQ(ListFileBytes(), ListFileOf({PicturesDir() + L"\\Blumen.png"}));
}

}  // namespace
