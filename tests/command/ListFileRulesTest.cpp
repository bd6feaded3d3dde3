// The byte rules of the list file and the converter's arguments, and the
// messages a failing list file carries (through the linked core, as the DLL
// shows them nowhere).
#include <gtest/gtest.h>

#include <windows.h>

#include "CommandFixture.h"
#include "untMain/CommandExecution.h"
#include "untMain/ListFile.h"

namespace {

bool SingleByte(unsigned char) { return false; }
// Shift-JIS (code page 932) as the platform knows it.
bool ShiftJisLead(unsigned char b) { return IsDBCSLeadByteEx(932, b) != FALSE; }

TEST(TrailingBackslash, AppendedOnlyWhenTheLastCharacterIsNotOne) {
    using ListFile::WithTrailingBackslash;
    EXPECT_EQ(WithTrailingBackslash("C:\\Convert", SingleByte), "C:\\Convert\\");
    EXPECT_EQ(WithTrailingBackslash("C:\\Convert\\", SingleByte), "C:\\Convert\\");
    EXPECT_EQ(WithTrailingBackslash("C:\\", SingleByte), "C:\\");
    EXPECT_EQ(WithTrailingBackslash("C:", SingleByte), "C:\\");
    EXPECT_EQ(WithTrailingBackslash("\\\\", SingleByte), "\\\\");  // only one is looked at
    EXPECT_EQ(WithTrailingBackslash("", SingleByte), "\\");
    EXPECT_EQ(WithTrailingBackslash("C:\\Gr\xF6\xDF" "e", SingleByte), "C:\\Gr\xF6\xDF" "e\\");
}

TEST(TrailingBackslash, DoubleByteTrailByte5CIsNotABackslash) {
    ASSERT_TRUE(ShiftJisLead(0x95));  // the table of the platform is there
    // 0x95 0x5C is one Shift-JIS character whose second byte looks like "\".
    const std::string dir = "C:\\\x95\x5C";
    EXPECT_FALSE(ListFile::EndsWithBackslash(dir, ShiftJisLead));
    EXPECT_EQ(ListFile::WithTrailingBackslash(dir, ShiftJisLead), dir + "\\");
    // The same bytes under a single-byte code page do end in a backslash.
    EXPECT_TRUE(ListFile::EndsWithBackslash(dir, SingleByte));
    // A real backslash after the pair stays the only one.
    EXPECT_EQ(ListFile::WithTrailingBackslash(dir + "\\", ShiftJisLead), dir + "\\");
    // Two pairs in a row: the walk pairs bytes from the start, so 0x5C 0x95
    // is never mistaken for a pair.
    const std::string twice = "C:\\\x95\x5C\x95\x5C";
    EXPECT_FALSE(ListFile::EndsWithBackslash(twice, ShiftJisLead));
    // A lead byte as the very last byte stands alone.
    EXPECT_FALSE(ListFile::EndsWithBackslash("C:\\\x95", ShiftJisLead));
    // Single-byte katakana (0xA1..0xDF) are no lead bytes: the 5C after one
    // is a backslash.
    EXPECT_TRUE(ListFile::EndsWithBackslash("C:\\\xB1\\", ShiftJisLead));
}

TEST(ListFilePlace, TempFirstThenInstallDir) {
    using ListFile::ListFilePath;
    EXPECT_EQ(ListFilePath("C:\\Temp", "C:\\Convert\\", SingleByte), "C:\\Temp\\files.txt");
    EXPECT_EQ(ListFilePath("C:\\Temp\\", "C:\\Convert\\", SingleByte), "C:\\Temp\\files.txt");
    EXPECT_EQ(ListFilePath("", "C:\\Convert\\", SingleByte), "C:\\Convert\\files.txt");
    // Used as given: no trimming.
    EXPECT_EQ(ListFilePath(" C:\\T ", "C:\\Convert\\", SingleByte), " C:\\T \\files.txt");
    EXPECT_EQ(ListFile::ConverterPath("C:\\Convert\\"), "C:\\Convert\\transform.exe");
}

TEST(ConverterParameters, QuotedPathBlankQuotedToken) {
    const std::string p = ListFile::ConverterParameters("C:\\Temp\\files.txt", "TOJPG");
    EXPECT_EQ(p, "\"C:\\Temp\\files.txt\" \"TOJPG\"");
    EXPECT_EQ(p.size(), 27u);
    // Nothing in the path is escaped or doubled; bytes pass as they are.
    EXPECT_EQ(ListFile::ConverterParameters("C:\\a\"b\\Gr\xF6\xDF" "e\\files.txt", "RS_10"),
              "\"C:\\a\"b\\Gr\xF6\xDF" "e\\files.txt\" \"RS_10\"");
}

TEST(SystemMessageTail, ControlCharactersBlanksAndPeriodsGo) {
    using ListFile::TrimMessageTail;
    EXPECT_EQ(TrimMessageTail("Das System kann den Pfad nicht finden.\r\n"),
              "Das System kann den Pfad nicht finden");
    EXPECT_EQ(TrimMessageTail("Zugriff verweigert. .\t\x7F \r\n"), "Zugriff verweigert");
    EXPECT_EQ(TrimMessageTail("v1.0 \xE4."), "v1.0 \xE4");  // inner periods and 8-bit letters stay
    EXPECT_EQ(TrimMessageTail(". \r\n"), "");
    EXPECT_EQ(TrimMessageTail(""), "");
}

// ---------------------------------------------------------------------------
// The texts a failing list file carries

std::string FreshDir() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string dir = std::string(temp) + "qrules" + std::to_string(GetCurrentProcessId()) + "\\";
    RemoveTree(dir);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

TEST(ListFileFailure, CreateFailureNamesTheFullPathAndTheSystemMessage) {
    const std::string dir = FreshDir();
    char previous[MAX_PATH + 1] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));

    // A relative path shows in the message as GetFullPathNameA completes it.
    try {
        CommandExecution::SaveListFile("fehlt\\files.txt", "C:\\a.png\r\n");
        ADD_FAILURE() << "no failure for a missing directory";
    } catch (const CommandExecution::ListFileCreateError& e) {
        const std::string head = "Datei \"" + dir + "fehlt\\files.txt\" kann nicht erstellt werden. ";
        const std::string& m = e.Message();
        ASSERT_EQ(m.compare(0, head.size(), head), 0) << m;
        const std::string system = m.substr(head.size());
        EXPECT_FALSE(system.empty());
        const auto last = static_cast<unsigned char>(system.back());
        EXPECT_TRUE(last > 0x20 && last != '.') << m;
        EXPECT_EQ(e.Result(), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
        EXPECT_NE(dynamic_cast<const EFCreateError*>(&e), nullptr);
    }
    SetCurrentDirectoryA(previous);
    RemoveTree(dir);
}

TEST(ListFileFailure, ShortWriteCarriesStreamWriteError) {
    const std::string dir = FreshDir();
    const std::string path = dir + "files.txt";
    // This program's own import of WriteFile, which the linked core calls.
    static decltype(&WriteFile) real = nullptr;
    struct Local {
        static BOOL WINAPI Short(HANDLE f, LPCVOID d, DWORD n, LPDWORD w, LPOVERLAPPED o) {
            return real(f, d, n - 1, w, o);
        }
    };
    ImportPatch patch(GetModuleHandleA(nullptr), "KERNEL32.dll", "WriteFile",
                      reinterpret_cast<void*>(&Local::Short));
    ASSERT_TRUE(patch.Applied());
    real = reinterpret_cast<decltype(&WriteFile)>(patch.Original());
    try {
        CommandExecution::SaveListFile(path, "C:\\a.png\r\n");
        ADD_FAILURE() << "no failure for a short write";
    } catch (const CommandExecution::ListFileWriteError& e) {
        EXPECT_EQ(e.Message(), "Stream-Schreibfehler");
        EXPECT_EQ(e.Result(), STG_E_WRITEFAULT);
        EXPECT_NE(dynamic_cast<const EWriteError*>(&e), nullptr);
    }
    RemoveTree(dir);
}

}  // namespace
