// InvokeCommand through the built DLL: the list file on the real file system,
// the converter stand-in started by the real ShellExecuteA.
#include "CommandFixture.h"

#include <atomic>
#include <thread>

namespace {

constexpr HRESULT kWriteFault = STG_E_WRITEFAULT;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// What Wine and Windows hand the started program: the file quoted, a blank,
// then the parameters as given.
std::string ExpectedCommandLine(const std::string& installDir, const std::string& listFile,
                                const std::string& token) {
    return Quoted(installDir + "transform.exe") + " " + Quoted(listFile) + " " + Quoted(token);
}

// ---------------------------------------------------------------------------
// The list file and the start

TEST_F(CommandTest, ListFileHoldsEachEntryWithCrLfAndTheConverterGetsIt) {
    CreateDirectoryA((Scratch() + "Urlaub").c_str(), nullptr);
    const std::string photo = "C:\\Bilder\\Foto.JPG";
    const std::string folder = Scratch() + "Urlaub";
    const std::string umlaut = "C:\\Bilder\\Gr\xF6\xDF" "e \xE4.png";
    ASSERT_EQ(Select({photo, "C:\\Bilder\\liesmich.txt", folder, umlaut}), S_OK);

    ASSERT_EQ(Invoke(2), S_OK);

    const std::string expected = photo + "\r\n" + folder + "\r\n" + umlaut + "\r\n";
    std::string bytes;
    ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
    EXPECT_EQ(bytes, expected);
    EXPECT_FALSE(FileExists(InstallListFile()));

    const auto runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Field("CMDLINE"), ExpectedCommandLine(InstallDir(), TempListFile(), "TOJPG"));
    EXPECT_EQ(runs[0].Field("LISTPATH"), TempListFile());
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOJPG");
    EXPECT_EQ(runs[0].Field("LIST"), expected);
    EXPECT_EQ(spies().WriteFileCalls(), 1);
}

TEST_F(CommandTest, EachOffsetHandsOverItsToken) {
    ASSERT_EQ(Select({"C:\\a.gif"}), S_OK);
    const struct {
        UINT offset;
        const char* token;
    } cases[] = {{1, "TOXXX"}, {2, "TOJPG"}, {8, "TOJPEG2000CS"}, {16, "RS_1"}, {25, "RS_10"}};
    size_t n = 0;
    for (const auto& c : cases) {
        ASSERT_EQ(Invoke(c.offset), S_OK) << c.offset;
        const auto runs = WaitForRuns(++n);
        ASSERT_EQ(runs.size(), n);
        EXPECT_EQ(runs.back().Field("TOKEN"), c.token);
        EXPECT_EQ(runs.back().Field("CMDLINE"), ExpectedCommandLine(InstallDir(), TempListFile(), c.token));
        EXPECT_EQ(runs.back().Field("LIST"), "C:\\a.gif\r\n");
    }
}

TEST_F(CommandTest, ShellExecuteGetsNoOwnerOpenNoDirectoryAndShowDefault) {
    ASSERT_EQ(Select({"C:\\a.gif"}), S_OK);
    // The shell's window and show command are not passed on.
    ASSERT_EQ(Invoke(25, GetDesktopWindow(), SW_HIDE), S_OK);

    const auto calls = spies().ShellExecuteCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].owner, nullptr);
    EXPECT_EQ(calls[0].operation, "open");
    EXPECT_EQ(calls[0].file, InstallDir() + "transform.exe");
    EXPECT_EQ(calls[0].parameters, "\"" + TempListFile() + "\" \"RS_10\"");
    EXPECT_TRUE(calls[0].directoryNull);
    EXPECT_EQ(calls[0].show, SW_SHOWDEFAULT);
    WaitForRuns(1);
}

TEST_F(CommandTest, OffsetZeroWritesTheListButStartsNothing) {
    ASSERT_EQ(Select({"C:\\a.gif", "C:\\b.tif"}), S_OK);
    ASSERT_EQ(Invoke(0), S_OK);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
    EXPECT_EQ(bytes, "C:\\a.gif\r\nC:\\b.tif\r\n");
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());

    // Positive control: a later start is seen, and it is the only one.
    ASSERT_EQ(Invoke(1), S_OK);
    const auto runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOXXX");
    EXPECT_EQ(Runs().size(), 1u);
}

TEST_F(CommandTest, EmptySelectionGivesAnEmptyFileWithoutAWriteAndStillStarts) {
    ASSERT_TRUE(WriteWholeFile(TempListFile(), "old contents\r\n"));
    EXPECT_EQ(Select({"C:\\liesmich.txt"}), E_INVALIDARG);  // accepted nothing: list emptied
    spies().Reset();

    ASSERT_EQ(Invoke(3), S_OK);
    std::string bytes = "x";
    ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(spies().WriteFileCalls(), 0);
    const auto runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].Has("LIST"));
    EXPECT_EQ(runs[0].Field("LIST"), "");
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOGIF");
}

TEST_F(CommandTest, LongerOldListIsReplacedWhole) {
    ASSERT_TRUE(WriteWholeFile(TempListFile(), std::string(5000, 'x')));
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    ASSERT_EQ(Invoke(0), S_OK);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
    EXPECT_EQ(bytes, "C:\\a.png\r\n");

    // A later, shorter selection replaces the list of the command before.
    ASSERT_EQ(Select({"C:\\b.png", "C:\\c.png"}), S_OK);
    ASSERT_EQ(Invoke(0), S_OK);
    ASSERT_EQ(Select({"C:\\d.png"}), S_OK);
    ASSERT_EQ(Invoke(0), S_OK);
    ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
    EXPECT_EQ(bytes, "C:\\d.png\r\n");
}

TEST_F(CommandTest, MissingConverterStillAnswersOk) {
    ASSERT_TRUE(DeleteFileA((InstallDir() + "transform.exe").c_str()));
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    EXPECT_EQ(Invoke(4), S_OK);
    EXPECT_EQ(spies().ShellExecuteCalls().size(), 1u);  // tried, failed, not our concern
    std::string bytes;
    ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
    EXPECT_EQ(bytes, "C:\\a.png\r\n");
}

// ---------------------------------------------------------------------------
// Where the list file goes; where the converter is looked for

struct TempCase {
    const char* name;
    int form;  // 0: no trailing backslash, 1: with it, 2: missing, 3: empty
};

TEST_F(CommandTest, ListFilePlaceFollowsTemp) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    const std::string tempSlash = TempDir();
    const std::string tempNoSlash = tempSlash.substr(0, tempSlash.size() - 1);
    const TempCase cases[] = {{"no backslash", 0}, {"backslash", 1}, {"missing", 2}, {"empty", 3}};
    size_t n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(TempListFile().c_str());
        DeleteFileA(InstallListFile().c_str());
        const char* value = c.form == 0 ? tempNoSlash.c_str()
                          : c.form == 1 ? tempSlash.c_str()
                          : c.form == 2 ? nullptr
                                        : "";
        ScopedEnvironment temp("TEMP", value);
        const std::string expected = c.form <= 1 ? TempListFile() : InstallListFile();
        const std::string other = c.form <= 1 ? InstallListFile() : TempListFile();

        ASSERT_EQ(Invoke(2), S_OK);
        EXPECT_TRUE(FileExists(expected));
        EXPECT_FALSE(FileExists(other));
        const auto runs = WaitForRuns(++n);
        ASSERT_EQ(runs.size(), n);
        EXPECT_EQ(runs.back().Field("LISTPATH"), expected);  // never a doubled backslash
        EXPECT_EQ(runs.back().Field("LIST"), "C:\\a.png\r\n");
    }
}

TEST_F(CommandTest, EightBitTempPathPassesByteForByte) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    const std::string plainDir = Scratch() + "Tempor\xE4r";
    ASSERT_TRUE(CreateDirectoryA(plainDir.c_str(), nullptr));
    ScopedEnvironment temp("temp", plainDir.c_str());
    ASSERT_EQ(Invoke(2), S_OK);
    const std::string listFile = plainDir + "\\files.txt";
    EXPECT_TRUE(FileExists(listFile));
    const auto calls = spies().ShellExecuteCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].parameters, "\"" + listFile + "\" \"TOJPG\"");
    const auto runs = WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    if (GetACP() == 1252) {  // the started program reads its line in the ANSI code page
        EXPECT_EQ(runs[0].Field("LISTPATH"), listFile);
        EXPECT_EQ(runs[0].Field("LIST"), "C:\\a.png\r\n");
    }
}

TEST_F(CommandTest, InstallDirGetsOneTrailingBackslash) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    ScopedEnvironment noTemp("temp", nullptr);
    const std::string withSlash = InstallDir();
    const std::string noSlash = withSlash.substr(0, withSlash.size() - 1);
    size_t n = 0;
    for (const std::string& value : {noSlash, withSlash}) {
        SCOPED_TRACE(value);
        SetInstallDirValue(value);
        ASSERT_EQ(Invoke(16), S_OK);
        const auto runs = WaitForRuns(++n);
        ASSERT_EQ(runs.size(), n);
        EXPECT_EQ(runs.back().Field("CMDLINE"), ExpectedCommandLine(withSlash, withSlash + "files.txt", "RS_1"));
        EXPECT_EQ(runs.back().Field("LIST"), "C:\\a.png\r\n");
    }
}

TEST_F(CommandTest, ExpandSzInstallDirIsUsedUnexpanded) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    SetInstallDirValue("%QUENNEL_NO_SUCH_VARIABLE%", REG_EXPAND_SZ);
    EXPECT_EQ(Invoke(2), S_OK);
    const auto calls = spies().ShellExecuteCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].file, "%QUENNEL_NO_SUCH_VARIABLE%\\transform.exe");
}

TEST_F(CommandTest, EnvironmentIsReadInTwoCallsSizeThenFill) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    ASSERT_EQ(Invoke(0), S_OK);
    auto calls = spies().EnvironmentCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(_stricmp(calls[0].name.c_str(), "temp"), 0);
    EXPECT_TRUE(calls[0].bufferNull);
    EXPECT_EQ(calls[0].size, 0u);
    EXPECT_EQ(calls[0].result, TempDir().size() + 1);
    EXPECT_FALSE(calls[1].bufferNull);
    EXPECT_EQ(calls[1].size, TempDir().size() + 1);
    EXPECT_EQ(calls[1].result, TempDir().size());

    spies().Reset();
    ScopedEnvironment noTemp("temp", nullptr);
    ASSERT_EQ(Invoke(0), S_OK);
    calls = spies().EnvironmentCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].result, 0u);
    EXPECT_TRUE(FileExists(InstallListFile()));
}

// ---------------------------------------------------------------------------
// Requests that are refused, and a missing install directory

TEST_F(CommandTest, VerbStringsAndOffsetsAbove25TouchNothing) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    DeleteSettingsKey();  // a settings read would create it again

    std::vector<UINT_PTR> verbs = {reinterpret_cast<UINT_PTR>("open")};
    for (unsigned bit = 16; bit < 8 * sizeof(UINT_PTR); ++bit) verbs.push_back((UINT_PTR(1) << bit) | 2);
    for (UINT_PTR verb : verbs) EXPECT_EQ(Invoke(verb), E_FAIL) << std::hex << verb;
    for (UINT_PTR offset : {26u, 27u, 0xFFFFu}) EXPECT_EQ(Invoke(offset), E_INVALIDARG) << offset;

    EXPECT_FALSE(SettingsKeyExists());
    EXPECT_TRUE(spies().EnvironmentCalls().empty());
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
    EXPECT_FALSE(FileExists(TempListFile()));
    EXPECT_FALSE(FileExists(InstallListFile()));
}

TEST_F(CommandTest, NullRecordIsRefused) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    EXPECT_EQ(Menu()->InvokeCommand(nullptr), E_INVALIDARG);
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
    EXPECT_FALSE(FileExists(TempListFile()));
}

TEST_F(CommandTest, MissingOrEmptyInstallDirAnswersOkAndDoesNothing) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    for (int form = 0; form < 3; ++form) {
        SCOPED_TRACE(form);
        DeleteSettingsKey();
        if (form == 1) SetInstallDirValue("");
        if (form == 2) SetInstallDirValue("", REG_EXPAND_SZ);
        for (UINT offset : {0u, 1u, 25u}) EXPECT_EQ(Invoke(offset), S_OK) << offset;
        EXPECT_TRUE(SettingsKeyExists());  // the settings were read
    }
    EXPECT_TRUE(spies().EnvironmentCalls().empty());
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
    EXPECT_FALSE(FileExists(TempListFile()));
    EXPECT_FALSE(FileExists(InstallListFile()));

    // Positive control for "nothing started": with the setting back, a start
    // is seen and it is the only one.
    SetInstallDirValue(InstallDir());
    ASSERT_EQ(Invoke(1), S_OK);
    EXPECT_EQ(WaitForRuns(1).size(), 1u);
}

// ---------------------------------------------------------------------------
// Failures: nothing started, a failure code, no exception

TEST_F(CommandTest, UnreadableSettingIsAFailureAndNothingHappens) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    SetInstallDirDword(42);
    EXPECT_EQ(Invoke(2), E_FAIL);
    EXPECT_TRUE(spies().EnvironmentCalls().empty());
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
    EXPECT_FALSE(FileExists(TempListFile()));
    EXPECT_FALSE(FileExists(InstallListFile()));
}

TEST_F(CommandTest, TempDirectoryThatDoesNotExistFailsTheCreate) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    const std::string missing = Scratch() + "gibtsnicht";
    ScopedEnvironment temp("temp", missing.c_str());
    EXPECT_EQ(Invoke(2), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
    EXPECT_FALSE(FileExists(missing));  // the directory is not created
    EXPECT_FALSE(FileExists(InstallListFile()));  // and there is no second place
}

TEST_F(CommandTest, ListFileHeldOpenFailsTheCreate) {
    ASSERT_TRUE(WriteWholeFile(TempListFile(), "kept\r\n"));
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    const HANDLE held = CreateFileA(TempListFile().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Invoke(2), HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
    CloseHandle(held);
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
    std::string bytes;
    ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
    EXPECT_EQ(bytes, "kept\r\n");
}

TEST_F(CommandTest, PathsOver260CharactersFailWithoutAStart) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    const std::string longTemp = TempDir() + std::string(300, 'x');
    {
        ScopedEnvironment temp("temp", longTemp.c_str());
        EXPECT_TRUE(FAILED(Invoke(2)));
    }
    {
        ScopedEnvironment temp("temp", nullptr);
        SetInstallDirValue(InstallDir() + std::string(300, 'y'));
        EXPECT_TRUE(FAILED(Invoke(2)));
    }
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
}

TEST_F(CommandTest, PathsBeyondTheWindowsLimitAreRefusedNotCut) {
    ASSERT_EQ(Select({"C:\\a.png"}), S_OK);
    ScopedEnvironment temp("temp", nullptr);
    // 65,536 characters and more: a platform that cuts such a path would
    // otherwise create the list somewhere else.
    SetInstallDirValue(InstallDir() + std::string(65536 + 10, 'z'));
    EXPECT_EQ(Invoke(2), HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    EXPECT_EQ(spies().WriteFileCalls(), 0);
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());
}

// Replacements for the DLL's WriteFile: part of the text, or a failure.
BOOL WINAPI ShortWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    return Spies::Instance().realWriteFile(file, data, size / 2, written, overlapped);
}

BOOL WINAPI FailingWrite(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    if (written) *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

TEST_F(CommandTest, ShortOrFailingWriteClosesTheFileAndStartsNothing) {
    ASSERT_EQ(Select({"C:\\Bilder\\a.png", "C:\\Bilder\\b.png"}), S_OK);
    const struct {
        const char* name;
        void* replacement;
        HRESULT expected;
    } cases[] = {{"short", reinterpret_cast<void*>(&ShortWrite), kWriteFault},
                 {"failing", reinterpret_cast<void*>(&FailingWrite), HRESULT_FROM_WIN32(ERROR_DISK_FULL)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImportPatch patch(Module(), "KERNEL32.dll", "WriteFile", c.replacement);
        ASSERT_TRUE(patch.Applied());
        EXPECT_EQ(Invoke(2), c.expected);
        // Closed: the file can be opened without sharing at once.
        const HANDLE again = CreateFileA(TempListFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(again, INVALID_HANDLE_VALUE) << GetLastError();
        if (again != INVALID_HANDLE_VALUE) CloseHandle(again);
    }
    EXPECT_TRUE(spies().ShellExecuteCalls().empty());

    // With the real write back the same call succeeds and starts.
    ASSERT_EQ(Invoke(2), S_OK);
    EXPECT_EQ(WaitForRuns(1).size(), 1u);
}

// ---------------------------------------------------------------------------
// Another apartment replacing the selection while commands run

TEST_F(CommandTest, ListFileIsAlwaysOneWholeSelection) {
    std::vector<std::string> many;
    std::string manyText;
    for (int i = 0; i < 500; ++i) {
        many.push_back("C:\\Bilder\\Serie\\bild" + std::to_string(i) + ".jpg");
        manyText += many.back() + "\r\n";
    }
    const std::vector<std::string> few = {"C:\\x.png", "C:\\y.png"};
    const std::string fewText = "C:\\x.png\r\nC:\\y.png\r\n";
    ASSERT_EQ(Select(few), S_OK);

    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread other([&] {
        ComApartment apartment;
        Ref<IShellExtInit> init;
        if (Dll().CreateExtension(IID_IShellExtInit, init.OutVoid()) != S_OK) return;
        for (int i = 0; !stop.load(); ++i) {
            DropDataObject data(i % 2 ? few : many);
            init->Initialize(nullptr, &data, nullptr);
            ++rounds;
        }
    });
    int torn = 0;
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(Invoke(0), S_OK);
        std::string bytes;
        ASSERT_TRUE(ReadBytes(TempListFile(), bytes));
        if (bytes != manyText && bytes != fewText) ++torn;
    }
    stop = true;
    other.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(rounds.load(), 0);
}

}  // namespace
