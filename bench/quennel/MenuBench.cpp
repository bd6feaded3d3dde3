// IContextMenu::QueryContextMenu with the settings absent and with all ten
// presets set, against the floor of the platform calls the operation cannot
// avoid: the settings reader's registry calls (one key creation, then for
// each of the twenty sizes: open the section, query the value's size twice
// and its data once, close the section) and the menu calls (CreatePopupMenu,
// AppendMenuA for each item, InsertMenuItemA, SetMenuItemBitmaps, and the
// DestroyMenu of the shell's menu that ends both).
#include <cstdio>

#include "Bench.h"
#include "support/SettingsKey.h"
#include "untMain/CommandTable.h"

namespace {

using namespace bench;

struct Preset {
    int width, height;
};

// What the presets read as: the defaults, or ten set presets.
std::vector<Preset> ShownPresets(bool allTen) {
    if (!allTen) return {{800, 600}, {1024, 768}, {1152, 864}, {1280, 720}, {1280, 1024}};
    std::vector<Preset> presets;
    for (int n = 1; n <= 10; ++n) presets.push_back({320 + 160 * n, 240 + 120 * n});
    return presets;
}

bool WritePresets(const std::vector<Preset>& presets) {
    bool ok = true;
    for (size_t i = 0; i < presets.size(); ++i) {
        ok = WriteSettingText("SIZEX" + std::to_string(i + 1), std::to_string(presets[i].width)) && ok;
        ok = WriteSettingText("SIZEY" + std::to_string(i + 1), std::to_string(presets[i].height)) && ok;
    }
    return ok;
}

class MenuFloor {
public:
    MenuFloor(const std::vector<Preset>& presets, HBITMAP bitmap) : bitmap_(bitmap) {
        for (int n = 1; n <= 10; ++n) {
            names_.push_back("SIZEX" + std::to_string(n));
            names_.push_back("SIZEY" + std::to_string(n));
        }
        for (CommandOffset k = 1; k < FirstPresetOffset; ++k) captions_.push_back({k, CommandTable::CaptionOf(k)});
        for (size_t i = 0; i < presets.size(); ++i)
            captions_.push_back({static_cast<UINT>(FirstPresetOffset + i),
                                 CommandTable::PresetCaption(presets[i].width, presets[i].height)});
    }

    void Run(HMENU host, UINT idCmdFirst) {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        for (const std::string& name : names_) {
            HKEY section = nullptr;
            if (RegOpenKeyExA(key, kSettingsSection, 0, KEY_ALL_ACCESS, &section) != ERROR_SUCCESS) continue;
            DWORD type = 0, size = 0;
            if (RegQueryValueExA(section, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
                size = 0;
                RegQueryValueExA(section, name.c_str(), nullptr, &type, nullptr, &size);
                BYTE data[64];
                size = sizeof data;
                RegQueryValueExA(section, name.c_str(), nullptr, &type, data, &size);
            }
            RegCloseKey(section);
        }
        if (key) RegCloseKey(key);

        HMENU popup = CreatePopupMenu();
        for (const auto& c : captions_) AppendMenuA(popup, 0, idCmdFirst + c.first, c.second.c_str());
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        item.wID = idCmdFirst;
        item.hSubMenu = popup;
        item.dwTypeData = const_cast<char*>(CommandTable::CaptionOf(0));
        InsertMenuItemA(host, 0, TRUE, &item);
        SetMenuItemBitmaps(host, 0, MF_BYPOSITION, bitmap_, bitmap_);
    }

private:
    HBITMAP bitmap_;
    std::vector<std::string> names_;
    std::vector<std::pair<UINT, std::string>> captions_;
};

int PopupItems(HMENU host) {
    HMENU popup = GetSubMenu(host, 0);
    return popup ? GetMenuItemCount(popup) : -1;
}

}  // namespace

namespace sections {

void Menu() {
    Extension ext;
    if (!ext.Ready() || !SelectOnePicture(ext)) {
        std::printf("NOTE\tmenu: cannot create the extension object or select a picture\n");
        return;
    }
    const HBITMAP bitmap = CreateBitmap(16, 16, 1, 32, nullptr);
    const UINT idCmdFirst = 100;
    const int runs = 301;

    for (const bool allTen : {false, true}) {
        DeleteSettingsKey();
        const std::vector<Preset> presets = ShownPresets(allTen);
        if (allTen && !WritePresets(presets)) std::printf("NOTE\tmenu: cannot write the presets\n");
        MenuFloor floorMenu(presets, bitmap);

        // The first call creates the settings key; both then find it.
        HMENU check = CreatePopupMenu();
        const HRESULT answer = ext.Menu()->QueryContextMenu(check, 0, idCmdFirst, idCmdFirst + 25, CMF_NORMAL);
        const int items = PopupItems(check);
        DestroyMenu(check);
        check = CreatePopupMenu();
        floorMenu.Run(check, idCmdFirst);
        const int floorItems = PopupItems(check);
        DestroyMenu(check);
        if (answer != 26 || items != floorItems)
            std::printf("NOTE\tmenu: QueryContextMenu answered 0x%08lX with %d items, the floor built %d\n",
                        static_cast<unsigned long>(answer), items, floorItems);

        // The shell's menus are made beforehand: only the work on them counts.
        std::vector<double> ours, floor;
        for (int r = 0; r < runs; ++r) {
            for (int half = 0; half < 2; ++half) {
                const bool oursNow = (half == 0) == (r % 2 == 0);
                HMENU host = CreatePopupMenu();
                const double start = Now();
                if (oursNow) ext.Menu()->QueryContextMenu(host, 0, idCmdFirst, idCmdFirst + 25, CMF_NORMAL);
                else floorMenu.Run(host, idCmdFirst);
                DestroyMenu(host);
                (oursNow ? ours : floor).push_back(Now() - start);
            }
        }
        const double o = Median(ours), f = Median(floor);
        Emit({allTen ? "menu.presets" : "menu.default",
              allTen ? "QueryContextMenu, all ten presets set (25 items)" : "QueryContextMenu, no settings (20 items)",
              Microseconds(o), Microseconds(f), o / f, "<= 1.20", "runs " + std::to_string(runs)});
    }
    DeleteSettingsKey();
    DeleteObject(bitmap);
}

}  // namespace sections
