#include "MenuModel.h"

#include "Text.h"

namespace {

MenuEntry ReadEntry(HMENU menu, UINT position) {
    MenuEntry entry;
    entry.position = position;
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STATE | MIIM_CHECKMARKS | MIIM_BITMAP | MIIM_STRING;
    if (!GetMenuItemInfoA(menu, position, TRUE, &info)) return entry;
    entry.id = info.wID;
    entry.separator = (info.fType & MFT_SEPARATOR) != 0;
    entry.disabled = (info.fState & MFS_DISABLED) != 0;
    entry.bitmap = info.hbmpChecked || info.hbmpUnchecked || info.hbmpItem;
    entry.submenu = info.hSubMenu;
    if (info.cch > 0) {
        std::string text(info.cch + 1, '\0');
        MENUITEMINFOA textInfo = {};
        textInfo.cbSize = sizeof textInfo;
        textInfo.fMask = MIIM_STRING;
        textInfo.dwTypeData = &text[0];
        textInfo.cch = info.cch + 1;
        if (GetMenuItemInfoA(menu, position, TRUE, &textInfo)) {
            text.resize(textInfo.cch);
            entry.captionBytes = text;
            entry.caption = WideFromCodePage(text, 1252);
        }
    }
    if (entry.submenu) entry.children = ReadMenu(entry.submenu);
    return entry;
}

const MenuEntry* FindByIdIn(const std::vector<MenuEntry>& menu, UINT id, MenuPath* path) {
    for (const MenuEntry& entry : menu) {
        if (entry.separator) continue;
        if (path) {
            path->positions.push_back(entry.position);
            path->captions.push_back(entry.caption);
        }
        if (entry.id == id) return &entry;
        if (const MenuEntry* inner = FindByIdIn(entry.children, id, path)) return inner;
        if (path) {
            path->positions.pop_back();
            path->captions.pop_back();
        }
    }
    return nullptr;
}

void Collect(const std::vector<MenuEntry>& menu, const std::wstring& text, std::vector<const MenuEntry*>& all,
             const MenuEntry*& exact) {
    for (const MenuEntry& entry : menu) {
        if (entry.separator) continue;
        if (entry.submenu) {
            Collect(entry.children, text, all, exact);
            continue;
        }
        if (!exact && EqualNoCase(entry.caption, text)) exact = &entry;
        if (ContainsNoCase(entry.caption, text)) all.push_back(&entry);
    }
}

}  // namespace

std::vector<MenuEntry> ReadMenu(HMENU menu) {
    std::vector<MenuEntry> entries;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) entries.push_back(ReadEntry(menu, static_cast<UINT>(i)));
    return entries;
}

const MenuEntry* FindById(const std::vector<MenuEntry>& menu, UINT id, MenuPath* path) {
    if (path) *path = MenuPath();
    return FindByIdIn(menu, id, path);
}

std::vector<const MenuEntry*> FindByCaption(const std::vector<MenuEntry>& menu, const std::wstring& text) {
    std::vector<const MenuEntry*> all;
    const MenuEntry* exact = nullptr;
    Collect(menu, text, all, exact);
    if (exact) return {exact};
    return all;
}

const MenuEntry* FollowPath(const std::vector<MenuEntry>& menu, const MenuPath& path) {
    const std::vector<MenuEntry>* level = &menu;
    const MenuEntry* found = nullptr;
    for (size_t depth = 0; depth < path.positions.size(); ++depth) {
        found = nullptr;
        UINT position = path.positions[depth];
        const std::wstring& caption = path.captions[depth];
        if (position < level->size() && (*level)[position].caption == caption && !(*level)[position].separator)
            found = &(*level)[position];
        for (size_t i = 0; !found && i < level->size(); ++i)
            if (!(*level)[i].separator && (*level)[i].caption == caption) found = &(*level)[i];
        if (!found) return nullptr;
        level = &found->children;
    }
    return found;
}
