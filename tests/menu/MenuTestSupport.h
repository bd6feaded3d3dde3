// The extension DLL as the shell drives it for its context menu, and the
// real menus it builds, read back item by item.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "support/ExtensionDll.h"

struct MenuItem {
    UINT id = 0;
    HMENU submenu = nullptr;
    std::string caption;  // the bytes as the menu holds them
    UINT type = 0;
    UINT state = 0;
    HBITMAP checked = nullptr;
    HBITMAP unchecked = nullptr;
    HBITMAP item = nullptr;
};

MenuItem ReadMenuItem(HMENU menu, UINT position);
std::vector<MenuItem> ReadMenu(HMENU menu);

// The DLL, loaded once for the whole program.
const ExtensionDll& Dll();

// A new extension object of the DLL, initialised with the given paths as the
// shell's selection, into `menu`; Initialize's answer.
HRESULT ExtensionWithSelection(const std::vector<std::string>& paths, Ref<IContextMenu>& menu);

// A shell menu with three items of its own (identifiers 1 to 3).
HMENU MakeShellMenu();

constexpr HRESULT kAllIdentifiersUsed = MAKE_HRESULT(SEVERITY_SUCCESS, 0, 26);
