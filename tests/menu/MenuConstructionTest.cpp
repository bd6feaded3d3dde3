// QueryContextMenu through the built DLL, on real menus, with the settings in
// the real registry.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "MenuTestSupport.h"
#include "support/ImportPatch.h"
#include "support/SettingsKey.h"

namespace {

const char kSubmenuCaption[] = "Grafikformat \xE4ndern";
std::string Preset(const char* size) { return std::string("neue Gr\xF6\xDF" "e ") + size + " Pixel"; }

const char* const kFixedCaptions[15] = {
    "Vardel Quennel Wizard",
    "in das JPG Format konvertieren",
    "in das GIF Format konvertieren",
    "in das BMP Format konvertieren",
    "in das RLE Format konvertieren",
    "in das DIB Format konvertieren",
    "in das JPEG2000 Format konvertieren",
    "in das JPEG2000 (CodeStream) Format konvertieren",
    "in das TIFF Format konvertieren",
    "in das PCX Format konvertieren",
    "in das PNG Format konvertieren",
    "in das ICO Format konvertieren",
    "in das WBMP Format konvertieren",
    "in das PS Format konvertieren",
    "in das PDF Format konvertieren",
};

using Presets = std::vector<std::pair<UINT, std::string>>;  // identifier offset, caption

class MenuConstruction : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dll().Loaded());
        ASSERT_FALSE(SettingsKeyExists());
        const HRESULT init = ExtensionWithSelection({"C:\\x\\a.png"}, extension_);
        ASSERT_TRUE(extension_);
        ASSERT_EQ(init, S_OK) << "Initialize must accept a .png path";
        shell_ = MakeShellMenu();
    }
    void TearDown() override { DestroyMenu(shell_); }

    HRESULT Query(UINT index, UINT first, UINT flags = CMF_NORMAL) {
        return extension_->QueryContextMenu(shell_, index, first, first + 0x7FFF, flags);
    }

    // The popup of the entry at `index`, checked to hold the 15 fixed items
    // first; the items after them as (offset, caption).
    Presets PresetsOf(UINT index, UINT first) {
        Presets presets;
        const MenuItem entry = ReadMenuItem(shell_, index);
        EXPECT_EQ(entry.id, first);
        EXPECT_NE(entry.submenu, nullptr);
        if (!entry.submenu) return presets;
        const std::vector<MenuItem> items = ReadMenu(entry.submenu);
        EXPECT_GE(items.size(), 15u);
        for (size_t i = 0; i < items.size(); ++i) {
            const MenuItem& item = items[i];
            EXPECT_EQ(item.type, static_cast<UINT>(MFT_STRING)) << i;
            EXPECT_EQ(item.state & (MFS_DISABLED | MFS_CHECKED), 0u) << i;
            EXPECT_EQ(item.submenu, nullptr) << i;
            if (i < 15) {
                EXPECT_EQ(item.id, first + 1 + i);
                EXPECT_EQ(item.caption, kFixedCaptions[i]);
            } else {
                presets.emplace_back(item.id - first, item.caption);
            }
        }
        return presets;
    }

    CleanSettingsKey settings_;
    ComApartment com_;
    Ref<IContextMenu> extension_;
    HMENU shell_ = nullptr;
};

const Presets kDefaultPresets = {{16, Preset("800x600")},
                                 {17, Preset("1024x768")},
                                 {18, Preset("1152x864")},
                                 {19, Preset("1280x720")},
                                 {20, Preset("1280x1024")}};

TEST_F(MenuConstruction, WithoutSettingsTheSubmenuHoldsTwentyItemsAndTheKeyIsCreatedEmpty) {
    EXPECT_EQ(Query(1, 100), kAllIdentifiersUsed);
    EXPECT_EQ(kAllIdentifiersUsed, 26);

    const std::vector<MenuItem> shell = ReadMenu(shell_);
    ASSERT_EQ(shell.size(), 4u);
    EXPECT_EQ(shell[0].id, 1u);
    EXPECT_EQ(shell[2].id, 2u);
    EXPECT_EQ(shell[3].id, 3u);

    const MenuItem& entry = shell[1];
    EXPECT_EQ(entry.id, 100u);
    EXPECT_EQ(entry.caption, kSubmenuCaption);
    EXPECT_EQ(entry.type, static_cast<UINT>(MFT_STRING));
    EXPECT_EQ(entry.state & (MFS_DISABLED | MFS_CHECKED), 0u);
    EXPECT_EQ(entry.item, nullptr);
    // The module's bitmap in both check states.
    EXPECT_NE(entry.checked, nullptr);
    EXPECT_EQ(entry.checked, entry.unchecked);
    EXPECT_EQ(GetObjectType(entry.checked), static_cast<DWORD>(OBJ_BITMAP));

    ASSERT_NE(entry.submenu, nullptr);
    EXPECT_EQ(GetMenuItemCount(entry.submenu), 20);
    EXPECT_EQ(PresetsOf(1, 100), kDefaultPresets);

    EXPECT_TRUE(SettingsKeyExists());
    EXPECT_EQ(ValueCount(kSettingsKey), 0);
    EXPECT_EQ(SubkeyCount(kSettingsKey), 0);
}

TEST_F(MenuConstruction, EntryGoesToTheShellsPositionAtEitherEnd) {
    EXPECT_EQ(Query(0, 7), kAllIdentifiersUsed);
    EXPECT_EQ(ReadMenuItem(shell_, 0).caption, kSubmenuCaption);
    EXPECT_NE(ReadMenuItem(shell_, 0).checked, nullptr);
    EXPECT_EQ(Query(5, 40), kAllIdentifiersUsed);
    const std::vector<MenuItem> shell = ReadMenu(shell_);
    ASSERT_EQ(shell.size(), 5u);
    EXPECT_EQ(shell[4].id, 40u);
    EXPECT_EQ(shell[4].caption, kSubmenuCaption);
    EXPECT_NE(shell[4].submenu, shell[0].submenu) << "each call builds its own popup";
}

TEST_F(MenuConstruction, LowFlagBitsDecideWhetherTheSubmenuIsAdded) {
    for (UINT high : {0u, 0x10u, 0x20u, 0x100u, 0xFFFFFFF0u}) {
        for (UINT low = 0; low < 16; ++low) {
            const UINT flags = high | low;
            const bool excluded = low == 0x1 || low == 0x8 || low == 0x9;
            HMENU shell = MakeShellMenu();
            EXPECT_EQ(extension_->QueryContextMenu(shell, 0, 100, 200, flags), excluded ? S_OK : kAllIdentifiersUsed)
                << std::hex << flags;
            EXPECT_EQ(GetMenuItemCount(shell), excluded ? 3 : 4) << std::hex << flags;
            DestroyMenu(shell);
        }
    }
}

TEST_F(MenuConstruction, IdentifiersBeyondIdCmdLastAreUsedAllTheSame) {
    ASSERT_TRUE(WriteSettingText("SIZEX10", "1"));
    ASSERT_TRUE(WriteSettingText("SIZEY10", "2"));
    EXPECT_EQ(extension_->QueryContextMenu(shell_, 0, 500, 510, CMF_NORMAL), kAllIdentifiersUsed);
    Presets expected = kDefaultPresets;
    expected.emplace_back(25, Preset("1x2"));
    EXPECT_EQ(PresetsOf(0, 500), expected);
}

TEST_F(MenuConstruction, ZeroLeavesAPresetOutAndLaterPresetsKeepTheirIdentifiers) {
    ASSERT_TRUE(WriteSettingText("SIZEX2", "0"));
    ASSERT_TRUE(WriteSettingText("SIZEY4", "$0"));
    EXPECT_EQ(Query(0, 100), kAllIdentifiersUsed);
    EXPECT_EQ(PresetsOf(0, 100), (Presets{{16, Preset("800x600")}, {18, Preset("1152x864")},
                                          {20, Preset("1280x1024")}}));
}

TEST_F(MenuConstruction, APresetNeedsBothSizes) {
    ASSERT_TRUE(WriteSettingText("SIZEX6", "640"));
    ASSERT_TRUE(WriteSettingText("SIZEY6", "480"));
    ASSERT_TRUE(WriteSettingText("SIZEX7", "640"));  // height default 0
    ASSERT_TRUE(WriteSettingText("SIZEY8", "480"));  // width default 0
    EXPECT_EQ(Query(0, 100), kAllIdentifiersUsed);
    Presets expected = kDefaultPresets;
    expected.emplace_back(21, Preset("640x480"));
    EXPECT_EQ(PresetsOf(0, 100), expected);
}

TEST_F(MenuConstruction, NegativeSizesKeepTheirSignAndBadTextsGiveDefaults) {
    ASSERT_TRUE(WriteSettingText("SIZEX1", "-5"));
    ASSERT_TRUE(WriteSettingText("SIZEY2", "abc"));
    ASSERT_TRUE(WriteSettingText("SIZEX3", "1024 "));
    ASSERT_TRUE(WriteSettingText("SIZEX9", "$10"));
    ASSERT_TRUE(WriteSettingText("SIZEY9", "-0x10"));
    ASSERT_TRUE(WriteSettingText("SIZEX10", "-2147483648"));
    ASSERT_TRUE(WriteSettingText("SIZEY10", "2147483647"));
    EXPECT_EQ(Query(0, 100), kAllIdentifiersUsed);
    EXPECT_EQ(PresetsOf(0, 100), (Presets{{16, Preset("-5x600")},
                                          {17, Preset("1024x768")},
                                          {18, Preset("1152x864")},
                                          {19, Preset("1280x720")},
                                          {20, Preset("1280x1024")},
                                          {24, Preset("16x-16")},
                                          {25, Preset("-2147483648x2147483647")}}));
}

TEST_F(MenuConstruction, AllTenPresetsFillTheIdentifiersToTwentyFive) {
    for (int n = 1; n <= 10; ++n) {
        ASSERT_TRUE(WriteSettingText("SIZEX" + std::to_string(n), std::to_string(n)));
        ASSERT_TRUE(WriteSettingText("SIZEY" + std::to_string(n), std::to_string(10 * n)));
    }
    EXPECT_EQ(Query(0, 1000), kAllIdentifiersUsed);
    const Presets presets = PresetsOf(0, 1000);
    ASSERT_EQ(presets.size(), 10u);
    for (UINT n = 1; n <= 10; ++n) {
        EXPECT_EQ(presets[n - 1].first, 15 + n);
        EXPECT_EQ(presets[n - 1].second, Preset((std::to_string(n) + "x" + std::to_string(10 * n)).c_str()));
    }
}

TEST_F(MenuConstruction, ASettingsChangeShowsTheNextTime) {
    EXPECT_EQ(Query(0, 100), kAllIdentifiersUsed);
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1"));
    EXPECT_EQ(Query(0, 200), kAllIdentifiersUsed);
    EXPECT_EQ(PresetsOf(0, 200).front(), std::make_pair(16u, Preset("1x600")));
    EXPECT_EQ(PresetsOf(1, 100).front(), std::make_pair(16u, Preset("800x600")));
}

TEST_F(MenuConstruction, AValueOfTheWrongTypeLeavesOnlyItsPresetOut) {
    const DWORD dword = 1152;
    ASSERT_TRUE(WriteSetting("SIZEX3", REG_DWORD, &dword, sizeof dword));
    const BYTE binary[] = {'7', '2', '0', 0};
    ASSERT_TRUE(WriteSetting("SIZEY4", REG_BINARY, binary, sizeof binary));
    ASSERT_TRUE(WriteSettingText("SIZEX6", "640"));
    ASSERT_TRUE(WriteSettingText("SIZEY6", "480"));
    EXPECT_EQ(Query(1, 100), kAllIdentifiersUsed);
    EXPECT_EQ(GetMenuItemCount(shell_), 4);
    EXPECT_EQ(PresetsOf(1, 100), (Presets{{16, Preset("800x600")},
                                          {17, Preset("1024x768")},
                                          {20, Preset("1280x1024")},
                                          {21, Preset("640x480")}}));
    EXPECT_NE(ReadMenuItem(shell_, 1).checked, nullptr);
}

// --- Imports of the DLL replaced for one test ---------------------------------

struct DllCalls {
    std::vector<HMENU> popups;
    int keysOpened = 0;  // created or opened successfully
    int keysCreated = 0;
    int keysClosed = 0;
    std::string failFetchOf;  // the value whose data fetch fails
} calls;

decltype(&CreatePopupMenu) realCreatePopup;
decltype(&RegCreateKeyExA) realCreateKey;
decltype(&RegOpenKeyExA) realOpenKey;
decltype(&RegCloseKey) realCloseKey;
decltype(&RegQueryValueExA) realQuery;

HMENU WINAPI RecordingCreatePopupMenu() {
    HMENU menu = realCreatePopup();
    calls.popups.push_back(menu);
    return menu;
}

LONG WINAPI CountingCreateKey(HKEY base, LPCSTR sub, DWORD reserved, LPSTR cls, DWORD options, REGSAM sam,
                              const LPSECURITY_ATTRIBUTES security, PHKEY out, LPDWORD disposition) {
    const LONG rc = realCreateKey(base, sub, reserved, cls, options, sam, security, out, disposition);
    if (rc == ERROR_SUCCESS) ++calls.keysOpened, ++calls.keysCreated;
    return rc;
}

LONG WINAPI CountingOpenKey(HKEY base, LPCSTR sub, DWORD options, REGSAM sam, PHKEY out) {
    const LONG rc = realOpenKey(base, sub, options, sam, out);
    if (rc == ERROR_SUCCESS) ++calls.keysOpened;
    return rc;
}

LONG WINAPI CountingCloseKey(HKEY key) {
    ++calls.keysClosed;
    return realCloseKey(key);
}

LONG WINAPI FailingFetch(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (data && name && calls.failFetchOf == name) return ERROR_MORE_DATA;
    return realQuery(key, name, reserved, type, data, size);
}

class PatchedMenuConstruction : public MenuConstruction {
protected:
    void SetUp() override {
        MenuConstruction::SetUp();
        calls = DllCalls();
        for (const ImportPatch* p : {&popup_, &create_, &open_, &close_, &query_}) ASSERT_TRUE(p->Applied());
        realCreatePopup = reinterpret_cast<decltype(realCreatePopup)>(popup_.Original());
        realCreateKey = reinterpret_cast<decltype(realCreateKey)>(create_.Original());
        realOpenKey = reinterpret_cast<decltype(realOpenKey)>(open_.Original());
        realCloseKey = reinterpret_cast<decltype(realCloseKey)>(close_.Original());
        realQuery = reinterpret_cast<decltype(realQuery)>(query_.Original());
    }

    HMODULE dll_ = Dll().Module();
    ImportPatch popup_{dll_, "user32.dll", "CreatePopupMenu", reinterpret_cast<void*>(&RecordingCreatePopupMenu)};
    ImportPatch create_{dll_, "advapi32.dll", "RegCreateKeyExA", reinterpret_cast<void*>(&CountingCreateKey)};
    ImportPatch open_{dll_, "advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void*>(&CountingOpenKey)};
    ImportPatch close_{dll_, "advapi32.dll", "RegCloseKey", reinterpret_cast<void*>(&CountingCloseKey)};
    ImportPatch query_{dll_, "advapi32.dll", "RegQueryValueExA", reinterpret_cast<void*>(&FailingFetch)};
};

TEST_F(PatchedMenuConstruction, NoSelectionCreatesNothingAndLeavesTheSettingsAlone) {
    Ref<IContextMenu> extension;
    const HRESULT init = ExtensionWithSelection({"C:\\x\\a.txt", "C:\\x\\b.txt"}, extension);
    ASSERT_TRUE(extension);
    ASSERT_EQ(init, E_INVALIDARG);
    for (UINT flags : {0u, 0x2u, 0x4u, 0x10u}) {
        EXPECT_EQ(extension->QueryContextMenu(shell_, 0, 100, 200, flags), S_OK) << flags;
    }
    EXPECT_EQ(GetMenuItemCount(shell_), 3);
    EXPECT_TRUE(calls.popups.empty());
    EXPECT_EQ(calls.keysOpened, 0);
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(PatchedMenuConstruction, ExcludingFlagsCreateNothing) {
    for (UINT flags : {0x1u, 0x8u, 0x9u, 0x19u}) EXPECT_EQ(Query(0, 100, flags), S_OK) << flags;
    EXPECT_EQ(GetMenuItemCount(shell_), 3);
    EXPECT_TRUE(calls.popups.empty());
    EXPECT_EQ(calls.keysOpened, 0);
    EXPECT_FALSE(SettingsKeyExists());
}

TEST_F(PatchedMenuConstruction, OneReaderForTwentyReadsReleasedOnEveryWay) {
    ASSERT_TRUE(WriteSettingText("SIZEX1", "1"));  // makes the section exist
    EXPECT_EQ(Query(0, 100), kAllIdentifiersUsed);
    EXPECT_EQ(calls.keysCreated, 1);
    EXPECT_EQ(calls.keysOpened, 21);  // the settings key, then the section per read
    EXPECT_EQ(calls.keysClosed, calls.keysOpened);

    calls = DllCalls();
    const DWORD dword = 1;
    ASSERT_TRUE(WriteSetting("SIZEX1", REG_DWORD, &dword, sizeof dword));
    ASSERT_TRUE(WriteSetting("SIZEY10", REG_DWORD, &dword, sizeof dword));
    EXPECT_EQ(Query(0, 200), kAllIdentifiersUsed);
    EXPECT_EQ(calls.keysCreated, 1);
    EXPECT_EQ(calls.keysOpened, 21);
    EXPECT_EQ(calls.keysClosed, calls.keysOpened);
    EXPECT_EQ(PresetsOf(0, 200).front().first, 17u);
}

TEST_F(PatchedMenuConstruction, AFailedFetchLeavesOnlyItsPresetOut) {
    ASSERT_TRUE(WriteSettingText("SIZEY4", "720"));
    calls.failFetchOf = "SIZEY4";
    EXPECT_EQ(Query(0, 100), kAllIdentifiersUsed);
    EXPECT_EQ(PresetsOf(0, 100), (Presets{{16, Preset("800x600")},
                                          {17, Preset("1024x768")},
                                          {18, Preset("1152x864")},
                                          {20, Preset("1280x1024")}}));
    EXPECT_EQ(calls.keysClosed, calls.keysOpened);
}

TEST_F(PatchedMenuConstruction, ThePopupGoesToTheShellsMenuOrIsDestroyed) {
    EXPECT_EQ(Query(0, 100), kAllIdentifiersUsed);
    ASSERT_EQ(calls.popups.size(), 1u);
    EXPECT_EQ(ReadMenuItem(shell_, 0).submenu, calls.popups[0]);

    // A shell menu that takes no entry: the popup would be lost, so it goes.
    calls = DllCalls();
    HMENU gone = CreatePopupMenu();
    DestroyMenu(gone);
    EXPECT_EQ(extension_->QueryContextMenu(gone, 0, 100, 200, CMF_NORMAL), kAllIdentifiersUsed);
    ASSERT_EQ(calls.popups.size(), 1u);
    EXPECT_FALSE(IsMenu(calls.popups[0]));
    EXPECT_EQ(calls.keysClosed, calls.keysOpened);
}

}  // namespace
