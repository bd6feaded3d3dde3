// Nothing of the user's is overwritten or lost: names, folders, bad input
// among good, refused runs and lists, odd paths, a folder that cannot be
// written, cancel, a crashing or hanging codec, killed processes.
#include "ConverterFixture.h"

#include <tlhelp32.h>

#include "converter/wizard/ProgressWindow.h"

namespace {

bool NoTemporaryLeft(const std::vector<std::wstring>& names) {
    for (const std::wstring& name : names)
        if (name.find(L".tmp") != std::wstring::npos) return false;
    return true;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += static_cast<char>(c);
    return narrow;
}

// The processes the converter started: its workers.
std::vector<DWORD> ChildrenOf(DWORD parent) {
    std::vector<DWORD> children;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return children;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == parent && entry.th32ProcessID != parent) children.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return children;
}

// A Dr. Halo CUT of 2 x 1 pixels of index 1 (one run), and its .pal of two
// colours: black and full red (6-bit values).
const char kTwoRedPixelsCut[] = {2, 0, 1, 0, 0, 0, 3, 0, char(0x82), 1, 0};
std::string RedPalette() {
    std::string pal(40, '\0');
    pal[0] = 'A';
    pal[1] = 'H';
    pal[2] = char(0xE3);
    pal[6] = 'A';
    pal[12] = 1;   // highest index
    pal[14] = 63;  // highest red, green, blue
    pal[16] = 63;
    pal[18] = 63;
    pal.replace(20, 8, "Dr. Halo");
    pal += std::string(6, '\0');                           // 0: black
    pal += std::string{char(63), 0, 0, 0, 0, 0};            // 1: red
    pal[4] = static_cast<char>(pal.size());
    return pal;
}

bool StillRunning(DWORD processId) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

size_t CountEnding(const std::vector<std::wstring>& names, const std::wstring& ending) {
    size_t count = 0;
    for (const std::wstring& name : names)
        if (name.size() >= ending.size() && name.compare(name.size() - ending.size(), ending.size(), ending) == 0) ++count;
    return count;
}

}  // namespace

class SafetyTest : public ConverterFixture {
protected:
    // Four pictures in a folder and two levels of subfolders.
    static void MakeAlbum(const std::wstring& album) {
        ASSERT_TRUE(CreateDirectoryW(album.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((album + L"\\Sub").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((album + L"\\Sub\\Deeper").c_str(), nullptr));
        MakePicture(album + L"\\a.png", "-size 20x10 xc:red");
        MakePicture(album + L"\\b.jpg", "-size 20x10 xc:blue");
        MakePicture(album + L"\\Sub\\c.gif", "-size 20x10 xc:green");
        MakePicture(album + L"\\Sub\\Deeper\\d.bmp", "-size 20x10 xc:white");
    }
};

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
    ASSERT_NO_FATAL_FAILURE(MakeAlbum(album));
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

// A drive that gives no file IDs (WebDAV, some NAS and FUSE-style drives
// report 0 for every file): each picture is still its own, and a folder
// listed twice is walked once, told by its path.
TEST_F(SafetyTest, DrivesWithoutFileIdsLoseNoPicture) {
    const std::wstring album = At(L"Album");
    ASSERT_NO_FATAL_FAILURE(MakeAlbum(album));
    WriteList({album, album + L"\\Sub\\c.gif", album + L"\\"});
    const ProcessResult run = RunConverter({ListPath(), L"TOPNG"}, {{L"QUENNEL_TEST_NO_FILE_IDS", L"1"}});
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.err.find("4 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_EQ(Identify(album + L"\\a (2).png"), "PNG 20x10");
    EXPECT_EQ(Identify(album + L"\\b.png"), "PNG 20x10");
    EXPECT_EQ(Identify(album + L"\\Sub\\c.png"), "PNG 20x10");
    EXPECT_EQ(Identify(album + L"\\Sub\\Deeper\\d.png"), "PNG 20x10");
    EXPECT_EQ(Names(album + L"\\Sub"), (std::vector<std::wstring>{L"Deeper", L"c.gif", L"c.png"}));
}

// "\\?\" paths allow thousands of levels: a deep tree is walked to its
// bottom and the run ends with its summary. Wine looks a path up one level
// at a time for every call, so a call at depth n costs n squared: opening
// each level of 1,250 took 55 s here, and 2,000 levels take many minutes.
// The suite therefore walks 600 levels; QUENNEL_TEST_DEEP_LEVELS=2000 runs
// the full depth by hand (with a timeout to match). The tree is made on the
// host behind a drive letter of its own, since Wine's path of a file
// there, its prefix included, must stay within the host's 4,096 bytes.
TEST_F(SafetyTest, AFolderThousandsOfLevelsDeepIsWalkedToItsBottom) {
    wchar_t levelsText[16] = {};
    const int kLevels = GetEnvironmentVariableW(L"QUENNEL_TEST_DEEP_LEVELS", levelsText, 16) ? _wtoi(levelsText) : 600;
    ASSERT_GE(kLevels, 1);
    ASSERT_LE(kLevels, 2000) << "deeper does not fit the host's path limit";
    wchar_t prefix[MAX_PATH] = {};
    ASSERT_TRUE(GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) << "runs under Wine only";
    const DWORD drives = GetLogicalDrives();
    wchar_t letter = 0;
    for (wchar_t l = L'q'; l <= L'y' && !letter; ++l)
        if (!(drives & (1u << (l - L'a')))) letter = l;
    ASSERT_NE(letter, 0) << "no free drive letter";
    // WINEPREFIX is the host's path of the prefix.
    const std::string dosdevices = "'" + Narrow(prefix) + "/dosdevices/" + std::string(1, static_cast<char>(letter)) + ":'";
    MakePicture(At(L"Oben.png"), "-size 12x8 xc:red");
    MakePicture(At(L"Unten.png"), "-size 16x10 xc:blue");
    // Python walks down by relative names: the shell's cd keeps the whole
    // path, which passes the host's limit, and is slow at such a depth.
    const std::string made = "ln -sfn " + Unix(Dir()) + " " + dosdevices +
                             " && python3 -c 'import os, sys\n"
                             "os.chdir(sys.argv[1]); os.mkdir(\"t\"); os.rename(sys.argv[2], \"t/Oben.png\"); os.chdir(\"t\")\n"
                             "for i in range(int(sys.argv[4])): os.mkdir(\"d\"); os.chdir(\"d\")\n"
                             "os.rename(sys.argv[3], \"Unten.png\")' " +
                             Unix(Dir()) + " " + Unix(At(L"Oben.png")) + " " + Unix(At(L"Unten.png")) + " " +
                             std::to_string(kLevels);
    struct Cleanup {
        std::string dosdevices, tree;
        ~Cleanup() { Host("rm -f " + dosdevices + "; rm -rf " + tree); }
    } cleanup{dosdevices, Unix(At(L"t"))};
    const ProcessResult host = Host(made);
    ASSERT_EQ(host.exitCode, 0u) << host.err;

    const std::wstring top = std::wstring(1, letter) + L":\\t";
    std::wstring bottom = L"\\\\?\\" + top;
    for (int i = 0; i < kLevels; ++i) bottom += L"\\d";
    ASSERT_NE(GetFileAttributesW((bottom + L"\\Unten.png").c_str()), INVALID_FILE_ATTRIBUTES) << "Wine cannot reach the bottom";
    WriteList({top});
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const ProcessResult run = RunProgram(ConverterPath(), {ListPath(), L"TOJPG"}, {}, temp,
                                         kLevels > 600 ? 3600000 : 300000);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.err.find("2 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_EQ(Identify(At(L"t\\Oben.jpg")), "JPEG 12x8");
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(bottom + L"\\Unten.jpg", bytes)) << "no result at the bottom";
    EXPECT_TRUE(WriteNewFile(At(L"Unten.jpg"), bytes));
    EXPECT_EQ(Identify(At(L"Unten.jpg")), "JPEG 16x10");
}

TEST_F(SafetyTest, BadFilesAreSkippedWithTheirReasonAndTheOthersConverted) {
    MakePicture(At(L"good.png"), "-size 64x48 gradient:red-blue -depth 8");
    MakePicture(At(L"good.bmp"), "-size 64x48 xc:gray");
    MakePicture(At(L"whole.jpg"), "-seed 3 -size 300x200 plasma:fractal");
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
    WriteList({At(L"a.png")});
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
        // A kind the converter reads but never writes.
        {{At(L"a.png"), L"TOHEIC"}, "ist unbekannt"},
        // The test session has no display: the wizard cannot open its dialog.
        {{ListPath(), L"TOXXX"}, "Wizard kann nicht angezeigt werden"},
    };
    for (const Case& c : cases) {
        const ProcessResult run = RunConverter(c.args);
        EXPECT_EQ(run.exitCode, 2u) << c.says;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
    EXPECT_EQ(Names(Dir()), before);

    // Lists the extension never writes are refused whole, even with good
    // lines among them.
    const std::string good = Narrow(At(L"a.png")) + "\r\n";
    std::string utf16;
    for (char c : good) utf16 += std::string(1, c) + '\0';
    struct ListCase {
        const wchar_t* name;
        std::string bytes;
        const char* says;
    };
    const ListCase lists[] = {
        {L"utf16-bom.txt", "\xFF\xFE" + utf16, "nicht im ANSI-Zeichensatz"},
        {L"utf16.txt", utf16, "nicht im ANSI-Zeichensatz"},
        {L"zero.txt", good + std::string("C:\\a\0b.png\r\n", 12), "Nullzeichen"},
        {L"relative.txt", good + "Bilder\\a.png\r\n", "ohne Laufwerk oder Server: „Bilder\\a.png"},
        {L"rooted.txt", good + "\\Bilder\\a.png\r\n", "ohne Laufwerk oder Server"},
        {L"device.txt", good + "\\\\.\\PhysicalDrive0\r\n", "Gerät statt einer Datei"},
        {L"globalroot.txt", good + "\\\\?\\GLOBALROOT\\Device\\Null\r\n", "Gerät statt einer Datei"},
    };
    for (const ListCase& c : lists) ASSERT_TRUE(WriteNewFile(At(c.name), c.bytes)) << c.says;
    const std::vector<std::wstring> withLists = Names(Dir());
    for (const ListCase& c : lists) {
        const ProcessResult run = RunConverter({At(c.name), L"TOPNG"});
        EXPECT_EQ(run.exitCode, 2u) << Utf8FromWide(c.name);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << Utf8FromWide(c.name) << ": " << run.err;
    }
    EXPECT_EQ(Names(Dir()), withLists);
}

TEST_F(SafetyTest, OddPathsConvertOnceAndLoseNothing) {
    // A picture deep below the 260-character limit.
    std::wstring deep = Dir();
    while (deep.size() < MAX_PATH + 40) {
        deep += L"\\Unterordner mit einem recht langen Namen";
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr)) << GetLastError();
    }
    MakePicture(At(L"deep.png"), "-size 30x20 xc:purple");
    ASSERT_TRUE(MoveFileW(At(L"deep.png").c_str(), (L"\\\\?\\" + deep + L"\\Bild.png").c_str())) << GetLastError();
    // Beside it what is read from files of its own: a TIFF's orientation
    // (turned upright: 20 x 30) and a CUT's palette (red, not grey).
    MakePicture(At(L"deep.tif"), "-size 30x20 xc:teal -orient RightTop");
    ASSERT_TRUE(MoveFileW(At(L"deep.tif").c_str(), (L"\\\\?\\" + deep + L"\\Gedreht.tif").c_str())) << GetLastError();
    ASSERT_TRUE(WriteNewFile(L"\\\\?\\" + deep + L"\\Rot.cut", std::string(kTwoRedPixelsCut, sizeof kTwoRedPixelsCut)));
    ASSERT_TRUE(WriteNewFile(L"\\\\?\\" + deep + L"\\Rot.pal", RedPalette()));

    // Temporary names an earlier run left behind: never in the way, never deleted.
    const std::wstring stale = At(L"stale");
    ASSERT_TRUE(CreateDirectoryW(stale.c_str(), nullptr));
    for (const wchar_t* name : {L"~quennel-1.tmp", L"~quennel-2.tmp", L"~quennel-3.tmp"})
        ASSERT_TRUE(WriteNewFile(stale + L"\\" + name, "stale"));
    MakePicture(stale + L"\\s.png", "-size 20x20 xc:olive");

    // One folder by two paths (on the host a symbolic link, as a junction or
    // a subst drive would be on Windows): each picture once.
    const std::wstring album = At(L"album");
    ASSERT_TRUE(CreateDirectoryW(album.c_str(), nullptr));
    MakePicture(album + L"\\a.png", "-size 20x10 xc:red");
    MakePicture(album + L"\\b.png", "-size 20x10 xc:blue");
    ASSERT_EQ(Host("ln -s " + Unix(album) + " " + Unix(At(L"album-link"))).exitCode, 0u);
    ASSERT_TRUE(CreateDirectoryW(At(L"leer").c_str(), nullptr));

    // The converter under test keeps MAX_PATH as stock Windows does (its
    // test build): every open of the deep files must take the long form.
    const ProcessResult run = Convert({deep + L"\\Bild.png", deep + L"\\Gedreht.tif", deep + L"\\Rot.cut", stale, album,
                                       At(L"album-link"), At(L"album-link") + L"\\a.png", At(L"leer")}, "TOJPG");
    EXPECT_EQ(run.exitCode, 1u) << run.err;
    EXPECT_NE(run.err.find("6 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("1 Datei wurde übersprungen"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("leer: Der Ordner enthält keine Grafikdateien."), std::string::npos) << run.err;
    EXPECT_EQ(Identify(deep + L"\\Bild.jpg"), "JPEG 30x20");
    EXPECT_EQ(Identify(deep + L"\\Gedreht.jpg"), "JPEG 20x30");
    EXPECT_EQ(Host("convert " + Unix(deep + L"\\Rot.jpg") + " -format '%[fx:p{1,0}.r>0.9&&p{1,0}.g<0.1?1:0]' info:").out,
              "1");
    EXPECT_EQ(Identify(stale + L"\\s.jpg"), "JPEG 20x20");
    EXPECT_EQ(Names(album), (std::vector<std::wstring>{L"a.jpg", L"a.png", L"b.jpg", L"b.png"}));
    EXPECT_EQ(Names(stale), (std::vector<std::wstring>{L"s.jpg", L"s.png", L"~quennel-1.tmp", L"~quennel-2.tmp",
                                                      L"~quennel-3.tmp"}));
    for (const wchar_t* name : {L"~quennel-1.tmp", L"~quennel-2.tmp", L"~quennel-3.tmp"})
        EXPECT_EQ(Bytes(stale + L"\\" + name), "stale");

    // A result name longer than a folder entry may be: the move into place
    // fails, the picture is skipped with its reason, and its temporary file
    // does not stay behind.
    const std::wstring longStem(250, L'n');
    MakePicture(At(longStem + L".png"), "-size 12x8 xc:gray");
    const ProcessResult tooLong = Convert({At(longStem + L".png")}, "RS_1");
    EXPECT_EQ(tooLong.exitCode, 1u) << tooLong.err;
    EXPECT_NE(tooLong.err.find(".png: Der Pfad ist zu lang."), std::string::npos) << tooLong.err;
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));
}

// The test build's workers crash or hang on request (tests/support/seams).
// A crash that comes of an earlier picture's damage in the worker
// (crash-once: only the first worker that meets the picture crashes) costs
// nothing: the picture is tried again in a fresh worker.
TEST_F(SafetyTest, ACrashingOrHangingCodecCostsOnlyItsPicture) {
    std::vector<std::wstring> list;
    for (const wchar_t* name :
         {L"good1.png", L"crash.png", L"good2.png", L"hang.png", L"good3.png", L"flaky.png", L"good4.png"}) {
        MakePicture(At(name), "-seed 5 -size 40x30 plasma:fractal -depth 8");
        list.push_back(At(name));
    }
    WriteList(list);
    const ProcessResult run = RunConverter(
        {ListPath(), L"TOJPG"},
        {{L"QUENNEL_TEST_WORKER_FAULT", L"crash=crash.png;hang=hang.png;crash-once=flaky.png"}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("5 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_TRUE(FileExists(At(L"flaky.png.crashed"))) << "the first worker did not crash on flaky.png";
    EXPECT_EQ(Identify(At(L"flaky.jpg")), "JPEG 40x30");
    EXPECT_NE(run.err.find("2 Dateien wurden übersprungen"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("crash.png: Die Bildverarbeitung ist an dieser Datei abgestürzt"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("hang.png: Die Bildverarbeitung brauchte für diese Datei zu lange"),
              std::string::npos)
        << run.err;
    for (const wchar_t* name : {L"good1.jpg", L"good2.jpg", L"good3.jpg", L"good4.jpg"})
        EXPECT_EQ(Identify(At(name)), "JPEG 40x30") << Utf8FromWide(name);
    EXPECT_FALSE(FileExists(At(L"crash.jpg")));
    EXPECT_FALSE(FileExists(At(L"hang.jpg")));
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));
}

// The test build caps each worker's memory as the job does on Windows
// (tests/support/seams): pictures whose conversion fits convert side by
// side; one whose conversion needs more than a worker may hold is tried
// again alone and then skipped with its reason, and the run goes on.
TEST_F(SafetyTest, TheJobsMemoryCapCostsOnlyThePictureBeyondIt) {
    std::vector<std::wstring> list;
    for (const wchar_t* name : {L"fits1.png", L"fits2.tif", L"fits3.jp2", L"fits4.png"}) {
        MakePicture(At(name), "-seed 9 -size 900x700 plasma:fractal -depth 8" +
                                  std::string(name[5] == 't' ? " -colorspace CMYK" : ""));
        list.push_back(At(name));
    }
    // 9 megapixels of a TGA, which is read whole: with the file and the
    // encoder's buffers far more than the 96 MiB a worker may hold here.
    // (A JPEG, PNG, TIFF, bitmap or PPM would stream in a few rows.)
    MakePicture(At(L"beyond.tga"), "-size 3000x3000 xc:teal");
    list.insert(list.begin() + 2, At(L"beyond.tga"));
    WriteList(list);
    const ProcessResult run = RunConverter({ListPath(), L"TOJPG"}, {{L"QUENNEL_TEST_WORKER_MEMORY", L"96"}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.err.find("4 Dateien wurden umgewandelt."), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("beyond.tga: Nicht genügend Arbeitsspeicher."), std::string::npos) << run.err;
    for (const wchar_t* name : {L"fits1.jpg", L"fits2.jpg", L"fits3.jpg", L"fits4.jpg"})
        EXPECT_EQ(Identify(At(name)), "JPEG 900x700") << Utf8FromWide(name);
    EXPECT_FALSE(FileExists(At(L"beyond.jpg")));
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));
}

TEST_F(SafetyTest, KilledProcessesLeaveNoWorkerAndNoTemporaryFile) {
    MakePicture(At(L"p0.png"), "-seed 7 -size 1600x1200 plasma:fractal -depth 8");
    std::vector<std::wstring> list{At(L"p0.png")};
    constexpr int kCount = 40;
    for (int i = 1; i < kCount; ++i) {
        const std::wstring copy = At(L"p" + std::to_wstring(i) + L".png");
        ASSERT_TRUE(CopyFileW(list[0].c_str(), copy.c_str(), TRUE));
        list.push_back(copy);
    }
    WriteList(list);
    const auto start = [&](PROCESS_INFORMATION& pi) {
        std::wstring commandLine = L"transform.exe \"" + ListPath() + L"\" \"TOJPG\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        return CreateProcessW(ConverterPath().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &pi) != FALSE;
    };
    // Waits until the run has `results` whole results or more, and its workers.
    const auto workersOnceResults = [&](DWORD supervisor, size_t results) {
        std::vector<DWORD> workers;
        const DWORD begin = GetTickCount();
        while (GetTickCount() - begin < 120000) {
            workers = ChildrenOf(supervisor);
            if (!workers.empty() && CountEnding(Names(Dir()), L".jpg") >= results) break;
            Sleep(10);
        }
        return workers;
    };

    // One worker killed: the run goes on with a new one, and the picture it
    // had is tried again there.
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(start(pi));
    std::vector<DWORD> workers = workersOnceResults(pi.dwProcessId, 1);
    ASSERT_FALSE(workers.empty());
    const HANDLE worker = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, workers[0]);
    ASSERT_NE(worker, nullptr);
    TerminateProcess(worker, 99);
    WaitForSingleObject(worker, 10000);
    CloseHandle(worker);
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, 240000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(exitCode, 0u) << "the killed worker's picture is tried again";
    const size_t converted = CountEnding(Names(Dir()), L".jpg");
    EXPECT_EQ(converted, static_cast<size_t>(kCount));
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));

    // The supervisor killed: its workers end with it.
    ASSERT_TRUE(start(pi));
    workers = workersOnceResults(pi.dwProcessId, converted + 1);
    ASSERT_FALSE(workers.empty());
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const DWORD begin = GetTickCount();
    bool anyRunning = true;
    while (anyRunning && GetTickCount() - begin < 20000) {
        anyRunning = false;
        for (DWORD id : workers) anyRunning = anyRunning || StillRunning(id);
        if (anyRunning) Sleep(50);
    }
    EXPECT_FALSE(anyRunning) << "a worker outlived its supervisor";
    // A killed process's temporary file goes when the system closes its
    // handles; Wine's server does that a moment after the process is seen
    // to end, so give it that moment.
    const DWORD closing = GetTickCount();
    while (!NoTemporaryLeft(Names(Dir())) && GetTickCount() - closing < 10000) Sleep(50);
    EXPECT_TRUE(NoTemporaryLeft(Names(Dir())));
    for (const std::wstring& name : Names(Dir())) {
        if (CountEnding({name}, L".jpg")) {
            EXPECT_EQ(Identify(At(name)), "JPEG 1600x1200") << Utf8FromWide(name);
        }
    }
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
    MakePicture(At(L"p0.png"), "-seed 11 -size 1600x1200 plasma:fractal -depth 8");
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
