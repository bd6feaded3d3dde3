// A context menu read back from its HMENU: what the user would see.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct MenuEntry {
    UINT position = 0;          // within its own menu
    UINT id = 0;
    bool separator = false;
    bool disabled = false;
    bool bitmap = false;        // check-mark bitmaps or an item bitmap are set
    HMENU submenu = nullptr;
    std::string captionBytes;   // as the handler inserted it (ANSI, code page 1252 here)
    std::wstring caption;       // the same, decoded from code page 1252
    std::vector<MenuEntry> children;
};

std::vector<MenuEntry> ReadMenu(HMENU menu);

// Positions and captions from the top menu down to one entry.
struct MenuPath {
    std::vector<UINT> positions;
    std::vector<std::wstring> captions;
};

// The entry with this command identifier (submenu entries included).
const MenuEntry* FindById(const std::vector<MenuEntry>& menu, UINT id, MenuPath* path = nullptr);
// Command entries (not submenus, not separators) whose caption contains `text`,
// ignoring case; an entry whose caption equals `text` is returned alone.
std::vector<const MenuEntry*> FindByCaption(const std::vector<MenuEntry>& menu, const std::wstring& text);
// Follows `path` through another build of the same menu: at each level the entry
// at the same position when its caption matches, else the first entry there with
// that caption.
const MenuEntry* FollowPath(const std::vector<MenuEntry>& menu, const MenuPath& path);
