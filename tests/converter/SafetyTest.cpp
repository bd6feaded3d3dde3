// Nothing of the user's is overwritten or lost: names, folders, bad input
// among good, refused runs, a folder that cannot be written, cancel.
#include "ConverterFixture.h"

#include "converter/ProgressWindow.h"

namespace {

bool NoTemporaryLeft(const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names)
        if (name.find(L".tmp") != std::wstring::npos) return false;
    return true;
}

}  // namespace

class SafetyTest : public ConverterFixture {};

TEST_F(SafetyTest, TakenNamesGetNumbersAndNothingIsTouched) {
    MakePicture(At(L"a.png"), "-size 30x20 xc:teal -depth 8");
    MakePicture(At(L"a (2).png"), "-size 5x5 xc:red");
    const std::string source = Bytes(At(L"a.png")), taken = Bytes(At(L"a (2).png"));

    for (const wchar_t* expected : {L"a (3).png", L"a (4).png"}) {
        const ProcessResult run = Convert({At(L"a.png")}, "TOPNG");
        EXPECT_EQ(run.exitCode, 0u) << run.err;
        EXPECT_EQ(Compare(At(L"a.png"), At(expected), "AE"), 0.0) << Utf8FromWide(expected);
    }
    EXPECT_EQ(Bytes(At(L"a.png")), source);
    EXPECT_EQ(Bytes(At(L"a (2).png")), taken);
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));
}

TEST_F(SafetyTest, ShortNamesGiveResultsTheLongName) {
    MakePicture(At(L"\u5199\u771f.jpg"), "-size 40x30 xc:orange");
    MakePicture(At(L"Urlaub am Meer 2024.bmp"), "-size 40x30 xc:navy");
    std::vector<std::wstring> list;
    for (const wchar_t* name : {L"\u5199\u771f.jpg", L"Urlaub am Meer 2024.bmp"}) {
        wchar_t shortPath[MAX_PATH] = {};
        ASSERT_GT(GetShortPathNameW(At(name).c_str(), shortPath, MAX_PATH), 0u);
        ASSERT_EQ(std::wstring(shortPath).find(name), std::wstring::npos) << "no short form to test with";
        list.push_back(shortPath);
    }
    const ProcessResult run = Convert(list, "TOPNG");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Identify(At(L"\u5199\u771f.png")), "PNG 40x30");
    EXPECT_EQ(Identify(At(L"Urlaub am Meer 2024.png")), "PNG 40x30");
}

TEST_F(SafetyTest, FoldersStandForThePicturesInThemOnce) {
    const std::wstring album = At(L"Album");
    ASSERT_TRUE(CreateDirectoryW(album.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((album + L"\\Sub").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((album + L"\\Sub\\Deeper").c_str(), nullptr));
    MakePicture(album + L"\\a.png", "-size 20x10 xc:red");
    MakePicture(album + L"\\b.jpg", "-size 20x10 xc:blue");
    MakePicture(album + L"\\Sub\\c.gif", "-size 20x10 xc:green");
    MakePicture(album + L"\\Sub\\Deeper\\d.bmp", "-size 20x10 xc:white");
    ASSERT_TRUE(Host("echo hallo > " + Unix(album + L"\\notes.txt")).exitCode == 0);

    // The folder twice and a file in it: each picture once. The run's own
    // results (a (2).png next to a.png) are not taken up again.
    const ProcessResult run = Convert({album, album + L"\\Sub\\c.gif", album + L"\\"}, "TOPNG");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.err.find("4 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_EQ(Names(album), (std::vector<std::wstring>{L"Sub", L"a (2).png", L"a.png", L"b.jpg", L"b.png",
                                                      L"notes.txt"}));
    EXPECT_EQ(Names(album + L"\\Sub"), (std::vector<std::wstring>{L"Deeper", L"c.gif", L"c.png"}));
    EXPECT_EQ(Identify(album + L"\\Sub\\Deeper\\d.png"), "PNG 20x10");
}

TEST_F(SafetyTest, BadFilesAreSkippedWithTheirReasonAndTheOthersConverted) {
    MakePicture(At(L"good.png"), "-size 64x48 gradient:red-blue -depth 8");
    MakePicture(At(L"good.bmp"), "-size 64x48 xc:gray");
    MakePicture(At(L"whole.jpg"), "-size 300x200 plasma:fractal -seed 3");
    const std::string whole = Bytes(At(L"good.png"));
    ASSERT_EQ(Host("echo 'kein Bild' > " + Unix(At(L"text.png")) + " && : > " + Unix(At(L"empty.jpg")) +
                   " && head -c " + std::to_string(whole.size() / 2) + " " + Unix(At(L"good.png")) + " > " +
                   Unix(At(L"truncated.png")))
                  .exitCode,
              0u);
    // A bitmap header that promises 100000 x 100000 pixels (30 GB) over a
    // few bytes.
    {
        unsigned char bmp[54 + 16] = {'B', 'M'};
        const auto put32 = [&](size_t at, uint32_t v) {
            for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<unsigned char>(v >> (8 * i));
        };
        put32(2, sizeof bmp);
        put32(10, 54);
        put32(14, 40);
        put32(18, 100000);
        put32(22, 100000);
        bmp[26] = 1;
        bmp[28] = 24;
        const HANDLE file = CreateFileW(At(L"huge.bmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bmp, sizeof bmp, &written, nullptr);
        CloseHandle(file);
    }

    const ProcessResult run = Convert({At(L"good.png"), At(L"text.png"), At(L"missing.png"), At(L"empty.jpg"),
                                       At(L"truncated.png"), At(L"huge.bmp"), At(L"good.bmp")},
                                      "TOJPG");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("2 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("5 Dateien wurden übersprungen"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("missing.png: Die Datei wurde nicht gefunden."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("text.png: Die Datei ist keine Grafik"), std::string::npos) << run.err;
    EXPECT_EQ(Identify(At(L"good.jpg")), "JPEG 64x48");
    EXPECT_EQ(Identify(At(L"good (2).jpg")), "JPEG 64x48");
    EXPECT_NE(run.err.find("huge.bmp: Das Bild ist zu groß."), std::string::npos) << run.err;
    for (const wchar_t* skipped : {L"text.jpg", L"empty (2).jpg", L"truncated.jpg", L"huge.jpg"})
        EXPECT_FALSE(FileExists(At(skipped))) << Utf8FromWide(skipped);
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));
}

TEST_F(SafetyTest, RunsThatCannotStartSayWhyAndWriteNothing) {
    MakePicture(At(L"a.png"), "-size 8x8 xc:red");
    ASSERT_EQ(Host(": > " + Unix(At(L"empty.txt"))).exitCode, 0u);
    const std::vector<std::wstring> before = Names(Dir());
    struct Case {
        std::vector<std::wstring> args;
        const char* says;
    };
    const Case cases[] = {
        {{}, "wird von dort gestartet"},
        {{ListPath()}, "wird von dort gestartet"},
        {{At(L"no-list.txt"), L"TOPNG"}, "kann nicht gelesen werden"},
        {{At(L"empty.txt"), L"TOPNG"}, "ist leer"},
        {{At(L"a.png"), L"TOWEBP"}, "ist unbekannt"},
        // The test session has no display: the wizard cannot open its dialog.
        {{At(L"a.png"), L"TOXXX"}, "Wizard kann nicht angezeigt werden"},
    };
    for (const Case& c : cases) {
        const ProcessResult run = RunConverter(c.args);
        EXPECT_EQ(run.exitCode, 2u) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_EQ(Names(Dir()), before);
}

TEST_F(SafetyTest, AFolderThatCannotBeWrittenLosesNothing) {
    const std::wstring locked = At(L"locked");
    ASSERT_TRUE(CreateDirectoryW(locked.c_str(), nullptr));
    MakePicture(locked + L"\\a.png", "-size 8x8 xc:red");
    // The host's permissions, so that Wine meets a real refusal; root passes
    // permissions by, so it also gets the immutable flag.
    const std::string dir = Unix(locked);
    const ProcessResult lock = Host("chmod 0555 " + dir + " && { [ \"$(id -u)\" != 0 ] || chattr +i " + dir + "; }");
    if (lock.exitCode != 0) {
        Host("chmod 0755 " + dir);
        GTEST_SKIP() << "this file system cannot refuse writes to root (chattr +i failed): " << lock.out << lock.err;
    }
    const ProcessResult run = Convert({locked + L"\\a.png"}, "TOPNG");
    Host("chattr -i " + dir + " 2>/dev/null; chmod 0755 " + dir);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("a.png: Der Zugriff wurde verweigert."), std::string::npos) << run.err;
    EXPECT_EQ(Names(locked), std::vector<std::wstring>{L"a.png"});
}

TEST_F(SafetyTest, CancelStopsAfterTheCurrentPictureAndLeavesOnlyWholeResults) {
    MakePicture(At(L"p0.png"), "-size 1600x1200 plasma:fractal -seed 11 -depth 8");
    std::vector<std::wstring> list{At(L"p0.png")};
    constexpr int kCount = 60;
    for (int i = 1; i < kCount; ++i) {
        const std::wstring copy = At(L"p" + std::to_wstring(i) + L".png");
        ASSERT_TRUE(CopyFileW(list[0].c_str(), copy.c_str(), TRUE));
        list.push_back(copy);
    }
    WriteList(list);
    std::wstring commandLine = L"transform.exe \"" + ListPath() + L"\" \"TOJPG\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(ConverterPath().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));

    // Cancel once the first result is in place, the way the button does.
    const DWORD start = GetTickCount();
    while (!FileExists(At(L"p0.jpg")) && !FileExists(At(L"p1.jpg")) && GetTickCount() - start < 120000) Sleep(10);
    HANDLE cancel = nullptr;
    while (!cancel && GetTickCount() - start < 120000) {
        cancel = OpenEventW(EVENT_MODIFY_STATE, FALSE, ProgressWindow::CancelEventName(pi.dwProcessId).c_str());
        if (!cancel) Sleep(10);
    }
    ASSERT_NE(cancel, nullptr);
    SetEvent(cancel);
    CloseHandle(cancel);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 120000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    EXPECT_EQ(exitCode, 1u);
    int results = 0;
    for (const std::wstring& name : Names(Dir())) {
        if (name.size() < 4 || name.compare(name.size() - 4, 4, L".jpg") != 0) continue;
        ++results;
        EXPECT_EQ(Identify(At(name)), "JPEG 1600x1200") << Utf8FromWide(name);
    }
    EXPECT_GE(results, 1);
    EXPECT_LT(results, kCount / 2) << "the run went on after the cancel";
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));
}
