// The settings reader against the real registry of the Wine prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comserver/Exceptions.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "support/ImportPatch.h"
#include "support/SettingsKey.h"

namespace {

const std::string kSectionPath = std::string(kSettingsKey) + "\\SETUP";

// Every test starts and ends without the settings key.
class SettingsStore : public ::testing::Test {
protected:
    CleanSettingsKey clean_;
};

// The message the reader reports, or "<no failure>".
template <typename Read>
std::string FailureOf(Read read) {
    try {
        read();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return "<no failure>";
}

std::string InvalidType(const std::string& name) { return "Ung\xFCltiger Datentyp f\xFCr '" + name + "'"; }
std::string FetchFailed(const std::string& name) { return "Fehler beim Holen der Daten f\xFCr '" + name + "'"; }

TEST_F(SettingsStore, CreatingTheReaderMakesTheKeyEmptyAndEveryReadYieldsItsDefault) {
    // Also the key above it, which a fresh machine lacks.
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Vardel Software");
    ASSERT_FALSE(SettingsKeyExists());
    {
        TRegIniFile reader(Settings::KeyPath);
        EXPECT_TRUE(SettingsKeyExists());
        EXPECT_NE(reader.CurrentKey(), nullptr);
        EXPECT_EQ(reader.CurrentPath(), kSettingsKey);
        EXPECT_EQ(reader.FileName(), kSettingsKey);
        EXPECT_EQ(reader.RootKey(), HKEY_CURRENT_USER);
        EXPECT_EQ(reader.Access(), static_cast<REGSAM>(KEY_ALL_ACCESS));
        EXPECT_TRUE(reader.LazyWrite());

        EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, ""), "");
        EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, "dflt"), "dflt");
        EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 800);
        EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEY6", 0), 0);
        EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", -7), -7);
    }
    EXPECT_TRUE(SettingsKeyExists());
    EXPECT_EQ(ValueCount(kSettingsKey), 0);
    EXPECT_EQ(SubkeyCount(kSettingsKey), 0);
    EXPECT_FALSE(SettingsSectionExists());
}

TEST_F(SettingsStore, MissingSectionGivesDefaultsAndIsNotCreated) {
    // A value of the same name directly in the settings key is not the section's.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    const char text[] = "1024";
    RegSetValueExA(key, "SIZEX1", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    RegCloseKey(key);

    TRegIniFile reader(Settings::KeyPath);
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 800);
    EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, "d"), "d");
    EXPECT_FALSE(SettingsSectionExists());
    EXPECT_EQ(ValueCount(kSettingsKey), 1);
}

TEST_F(SettingsStore, NumberTextsOfRegSzValues) {
    const struct {
        const char* text;
        int32_t expected;
    } cases[] = {
        {"1024", 1024},         {"  1024", 1024},       {"+1024", 1024},         {"$400", 1024},
        {"0x400", 1024},        {"0X400", 1024},        {"x400", 1024},          {"X400", 1024},
        {"-0x10", -16},         {"0", 0},               {"2147483647", 2147483647},
        {"-2147483648", INT32_MIN},                     {"$FFFFFFFF", -1},
        // Invalid texts give the default.
        {"1024 ", 800},         {"2147483648", 800},    {"$100000000", 800},     {"12abc", 800},
        {"- 5", 800},           {"0x", 800},            {"", 800},               {"\t1024", 800},
        {"10\t24", 800},        {"1024\t", 800},        {"abc", 800},
    };
    TRegIniFile reader(Settings::KeyPath);
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteSettingText("SIZEX1", c.text));
        EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), c.expected) << '"' << c.text << '"';
        EXPECT_EQ(reader.ReadText(Settings::Section, "SIZEX1", "d"), c.text);
    }
}

TEST_F(SettingsStore, ExpandSzIsTextAndStaysUnexpanded) {
    const char number[] = "1024";
    ASSERT_TRUE(WriteSetting("SIZEX1", REG_EXPAND_SZ, number, sizeof number));
    const char dir[] = "%SystemRoot%\\Suite\\%NOSUCHVAR%";
    ASSERT_TRUE(WriteSetting(Settings::InstallDirValue, REG_EXPAND_SZ, dir, sizeof dir));

    TRegIniFile reader(Settings::KeyPath);
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 1024);
    EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, ""), dir);
}

TEST_F(SettingsStore, InstallDirTexts) {
    TRegIniFile reader(Settings::KeyPath);
    EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, ""), "");

    ASSERT_TRUE(WriteSettingText(Settings::InstallDirValue, ""));
    EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, "not this"), "");

    // Code page 1252 bytes come back as they went in.
    const std::string dir = "C:\\Programme\\Gr\xF6\xDF" "e \xE4\xFC";
    ASSERT_TRUE(WriteSettingText(Settings::InstallDirValue, dir));
    EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, ""), dir);

    // A path of 260 characters and more is handed back whole.
    const std::string longDir = "C:\\" + std::string(400, 'd');
    ASSERT_TRUE(WriteSettingText(Settings::InstallDirValue, longDir));
    EXPECT_EQ(reader.ReadText(Settings::Section, Settings::InstallDirValue, ""), longDir);
}

TEST_F(SettingsStore, TextEndsAtTheFirstZeroOrWithTheData) {
    const char embedded[] = "12\0more";  // with its own final zero: 8 bytes
    ASSERT_TRUE(WriteSetting("SIZEX1", REG_SZ, embedded, sizeof embedded));
    const char unterminated[] = {'1', '0', '2', '4'};
    ASSERT_TRUE(WriteSetting("SIZEY1", REG_SZ, unterminated, sizeof unterminated));

    TRegIniFile reader(Settings::KeyPath);
    EXPECT_EQ(reader.ReadText(Settings::Section, "SIZEX1", "d"), "12");
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 12);
    EXPECT_EQ(reader.ReadText(Settings::Section, "SIZEY1", "d"), "1024");
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEY1", 600), 1024);
}

TEST_F(SettingsStore, ZeroLengthDataOfAnyTypeIsEmptyText) {
    for (DWORD type : {DWORD(REG_SZ), DWORD(REG_EXPAND_SZ), DWORD(REG_DWORD), DWORD(REG_BINARY)}) {
        ASSERT_TRUE(WriteSetting("SIZEX1", type, "", 0)) << type;
        TRegIniFile reader(Settings::KeyPath);
        EXPECT_EQ(reader.ReadText(Settings::Section, "SIZEX1", "default"), "") << type;
        EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 800) << type;
    }
}

TEST_F(SettingsStore, NonTextTypesAreReportedAndTheReaderStaysUsable) {
    const DWORD dword = 1024;
    const BYTE binary[] = {'1', '0', '2', '4', 0};
    const char multi[] = "1024\0";
    const ULONGLONG qword = 1024;
    const struct {
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {{REG_DWORD, &dword, sizeof dword},
                 {REG_BINARY, binary, sizeof binary},
                 {REG_MULTI_SZ, multi, sizeof multi},
                 {REG_QWORD, &qword, sizeof qword},
                 {REG_NONE, binary, sizeof binary}};
    ASSERT_TRUE(WriteSettingText("SIZEY1", "768"));

    TRegIniFile reader(Settings::KeyPath);
    const HKEY settingsKey = reader.CurrentKey();
    ASSERT_NE(settingsKey, nullptr);
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteSetting("SIZEX1", c.type, c.data, c.size)) << c.type;
        EXPECT_EQ(FailureOf([&] { reader.ReadNumber(Settings::Section, "SIZEX1", 800); }),
                  InvalidType("SIZEX1"))
            << c.type;
        EXPECT_EQ(FailureOf([&] { reader.ReadText(Settings::Section, "SIZEX1", ""); }), InvalidType("SIZEX1"))
            << c.type;
        // The settings key is current again, and the next read works.
        EXPECT_EQ(reader.CurrentKey(), settingsKey);
        EXPECT_EQ(reader.CurrentPath(), kSettingsKey);
        EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEY1", 600), 768);
    }
    // Reading wrote nothing and created nothing.
    EXPECT_EQ(ValueCount(kSectionPath), 2);
    EXPECT_EQ(SubkeyCount(kSettingsKey), 1);
    EXPECT_EQ(SubkeyCount(kSectionPath), 0);
}

TEST_F(SettingsStore, EveryReadGoesToTheRegistry) {
    TRegIniFile reader(Settings::KeyPath);
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 800);
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1"));
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 1);
    ASSERT_TRUE(WriteSettingText("SIZEX1", "2"));
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 2);
    ASSERT_EQ(RegDeleteKeyValueA(HKEY_CURRENT_USER, kSectionPath.c_str(), "SIZEX1"), ERROR_SUCCESS);
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 800);
}

TEST_F(SettingsStore, PathWithLeadingBackslashIsTakenFromTheRoot) {
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1152"));
    TRegIniFile reader(Settings::KeyPath);
    const std::string fromRoot = "\\" + kSectionPath;
    EXPECT_EQ(reader.ReadNumber(fromRoot, "SIZEX1", 800), 1152);
    EXPECT_EQ(reader.CurrentPath(), kSettingsKey);
    // Without the backslash the same path is looked up below the settings key.
    EXPECT_EQ(reader.ReadNumber(kSectionPath, "SIZEX1", 800), 800);
}

TEST_F(SettingsStore, WithoutTheKeySectionsAreLookedUpBelowTheRoot) {
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1280"));
    // A key name the registry refuses (a name of more than 255 characters).
    const std::string unusable = std::string(kSettingsKey) + "\\" + std::string(300, 'k');
    TRegIniFile reader(unusable);
    EXPECT_EQ(reader.CurrentKey(), nullptr);
    EXPECT_EQ(SubkeyCount(kSettingsKey), 1);  // only the section
    EXPECT_EQ(reader.ReadNumber(kSectionPath, "SIZEX1", 800), 1280);
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 800);
    EXPECT_EQ(reader.CurrentKey(), nullptr);
}

// --- Injected registry failures and recorded calls --------------------------

struct Recorder {
    int queries = 0;
    int failQuery = 0;  // the query that fails, counted from 1; 0: none
    LONG failWith = ERROR_MORE_DATA;
    const TRegistry* reader = nullptr;
    std::vector<HKEY> closed;
    std::vector<HKEY> currentAtClose;
    std::vector<REGSAM> openAccess;
    std::vector<std::string> opened;
} rec;

decltype(&RegQueryValueExA) realQuery;
decltype(&RegCloseKey) realClose;
decltype(&RegOpenKeyExA) realOpen;
decltype(&RegCreateKeyExA) realCreate;

LONG WINAPI CountingQuery(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (++rec.queries == rec.failQuery) return rec.failWith;
    return realQuery(key, name, reserved, type, data, size);
}

LONG WINAPI RecordingClose(HKEY key) {
    rec.closed.push_back(key);
    rec.currentAtClose.push_back(rec.reader ? rec.reader->CurrentKey() : nullptr);
    return realClose(key);
}

LONG WINAPI RecordingOpen(HKEY base, LPCSTR sub, DWORD options, REGSAM sam, PHKEY out) {
    rec.opened.push_back(sub ? sub : "<null>");
    rec.openAccess.push_back(sam);
    return realOpen(base, sub, options, sam, out);
}

struct CreateCall {
    HKEY base;
    std::string sub;
    DWORD reserved;
    bool hasClass;
    DWORD options;
    REGSAM sam;
    bool hasSecurity;
} createCall;

LONG WINAPI RecordingCreate(HKEY base, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                            const LPSECURITY_ATTRIBUTES security, PHKEY out, LPDWORD disposition) {
    createCall = {base, sub ? sub : "<null>", reserved, cls != nullptr, options, sam, security != nullptr};
    return realCreate(base, sub, reserved, cls, options, sam, security, out, disposition);
}

class PatchedRegistry : public SettingsStore {
protected:
    void SetUp() override {
        rec = Recorder();
        for (const ImportPatch* p : {&query_, &close_, &open_, &create_}) ASSERT_TRUE(p->Applied());
        realQuery = reinterpret_cast<decltype(realQuery)>(query_.Original());
        realClose = reinterpret_cast<decltype(realClose)>(close_.Original());
        realOpen = reinterpret_cast<decltype(realOpen)>(open_.Original());
        realCreate = reinterpret_cast<decltype(realCreate)>(create_.Original());
    }

    // The reader lives in this program (quennel_core), so its imports are ours.
    HMODULE self_ = GetModuleHandleA(nullptr);
    ImportPatch query_{self_, "advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&CountingQuery)};
    ImportPatch close_{self_, "advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&RecordingClose)};
    ImportPatch open_{self_, "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&RecordingOpen)};
    ImportPatch create_{self_, "advapi32.dll", "RegCreateKeyExA", reinterpret_cast<void*>(&RecordingCreate)};
};

TEST_F(PatchedRegistry, FailedFetchAfterTheSizeIsReportedAndTheSectionKeyClosedLast) {
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1024"));
    TRegIniFile reader(Settings::KeyPath);
    const HKEY settingsKey = reader.CurrentKey();
    ASSERT_NE(settingsKey, nullptr);
    rec = Recorder();
    rec.reader = &reader;

    rec.failQuery = 3;  // type and size, size again, then the fetch
    EXPECT_EQ(FailureOf([&] { reader.ReadNumber(Settings::Section, "SIZEX1", 800); }), FetchFailed("SIZEX1"));
    EXPECT_EQ(rec.queries, 3);
    ASSERT_EQ(rec.closed.size(), 1u);
    EXPECT_NE(rec.closed[0], settingsKey);
    EXPECT_EQ(rec.currentAtClose[0], settingsKey) << "settings key must be current before the section closes";
    EXPECT_EQ(reader.CurrentKey(), settingsKey);
    EXPECT_EQ(reader.CurrentPath(), kSettingsKey);

    // The same holds for ReadText and for a fetch failing in another way.
    rec = Recorder();
    rec.reader = &reader;
    rec.failQuery = 3;
    rec.failWith = ERROR_ACCESS_DENIED;
    EXPECT_EQ(FailureOf([&] { reader.ReadText(Settings::Section, "SIZEX1", ""); }), FetchFailed("SIZEX1"));
    EXPECT_EQ(rec.closed.size(), 1u);

    // Unharmed, the reader reads on: a value costs three queries.
    rec = Recorder();
    rec.reader = &reader;
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 1024);
    EXPECT_EQ(rec.queries, 3);
    ASSERT_EQ(rec.closed.size(), 1u);
    EXPECT_EQ(rec.currentAtClose[0], settingsKey);
}

TEST_F(PatchedRegistry, FailingSecondSizeQueryReadsAsEmptyText) {
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1024"));
    TRegIniFile reader(Settings::KeyPath);
    rec = Recorder();
    rec.failQuery = 2;
    EXPECT_EQ(reader.ReadText(Settings::Section, "SIZEX1", "d"), "");
    rec = Recorder();
    rec.failQuery = 2;
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX1", 800), 800);
    // A missing value costs one query only.
    rec = Recorder();
    EXPECT_EQ(reader.ReadNumber(Settings::Section, "SIZEX2", 1024), 1024);
    EXPECT_EQ(rec.queries, 1);
}

TEST_F(PatchedRegistry, KeysAreOpenedWithFullAccessBelowTheCurrentUser) {
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1024"));
    rec = Recorder();
    TRegIniFile reader(Settings::KeyPath);
    EXPECT_EQ(createCall.base, HKEY_CURRENT_USER);
    EXPECT_EQ(createCall.sub, kSettingsKey);
    EXPECT_EQ(createCall.reserved, 0u);
    EXPECT_FALSE(createCall.hasClass);
    EXPECT_EQ(createCall.options, static_cast<DWORD>(REG_OPTION_NON_VOLATILE));
    EXPECT_EQ(createCall.sam, static_cast<REGSAM>(KEY_ALL_ACCESS));
    EXPECT_FALSE(createCall.hasSecurity);

    reader.ReadNumber(Settings::Section, "SIZEX1", 800);
    ASSERT_EQ(rec.opened.size(), 1u);
    EXPECT_EQ(rec.opened[0], "SETUP");
    EXPECT_EQ(rec.openAccess[0], static_cast<REGSAM>(KEY_ALL_ACCESS));
}

TEST_F(PatchedRegistry, ReleaseClosesTheSettingsKey) {
    HKEY settingsKey = nullptr;
    {
        TRegIniFile reader(Settings::KeyPath);
        settingsKey = reader.CurrentKey();
        rec = Recorder();
    }
    ASSERT_EQ(rec.closed.size(), 1u);
    EXPECT_EQ(rec.closed[0], settingsKey);
}

}  // namespace
