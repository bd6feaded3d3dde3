#include "MenuTestSupport.h"

#include <gtest/gtest.h>

#include "support/DropDataObject.h"

MenuItem ReadMenuItem(HMENU menu, UINT position) {
    char text[512] = {};
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING | MIIM_CHECKMARKS | MIIM_BITMAP | MIIM_FTYPE | MIIM_STATE;
    info.dwTypeData = text;
    info.cch = sizeof text;
    MenuItem item;
    if (!GetMenuItemInfoA(menu, position, TRUE, &info)) {
        ADD_FAILURE() << "no item at position " << position;
        return item;
    }
    item.id = info.wID;
    item.submenu = info.hSubMenu;
    item.caption.assign(text, info.cch);
    item.type = info.fType;
    item.state = info.fState;
    item.checked = info.hbmpChecked;
    item.unchecked = info.hbmpUnchecked;
    item.item = info.hbmpItem;
    return item;
}

std::vector<MenuItem> ReadMenu(HMENU menu) {
    std::vector<MenuItem> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) items.push_back(ReadMenuItem(menu, static_cast<UINT>(i)));
    return items;
}

const ExtensionDll& Dll() {
    static ExtensionDll dll;
    return dll;
}

HRESULT ExtensionWithSelection(const std::vector<std::string>& paths, Ref<IContextMenu>& menu) {
    menu.Reset();
    Ref<IShellExtInit> init;
    const HRESULT created = Dll().CreateExtension(IID_IShellExtInit, init.OutVoid());
    if (FAILED(created)) return created;
    DropDataObject data(paths);
    const HRESULT result = init->Initialize(nullptr, &data, nullptr);
    init->QueryInterface(IID_IContextMenu, menu.OutVoid());
    return result;
}

HMENU MakeShellMenu() {
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING, 1, "\xD6" "ffnen");
    AppendMenuA(menu, MF_STRING, 2, "Drucken");
    AppendMenuA(menu, MF_STRING, 3, "Eigenschaften");
    return menu;
}
