// Shows the context menu as a user sees it: a folder window with the
// selection, the menu popped up over it with the path to one entry opened and
// highlighted, and that entry's help text in the status bar.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct MenuShow {
    HMENU menu = nullptr;
    std::wstring folder;
    std::vector<std::wstring> items;      // names of the selected items
    std::vector<UINT> openPath;           // positions from the top menu to the entry to highlight
    std::function<std::string(UINT id)> helpText;  // UTF-8, empty when none
    // When set: created once the menu is drawn; deleting it closes the menu.
    std::wstring handshakeFile;
    unsigned timeoutMs = 120000;
};

class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND Handle() const { return hwnd_; }
    // Runs the menu (TrackPopupMenuEx) at `at`, which it sets; returns the
    // identifier the user chose with the mouse or keyboard, 0 when the menu was
    // closed otherwise. `shown` tells whether the menu was drawn at all.
    UINT Show(const MenuShow& show, POINT& at, bool& shown);

private:
    HWND hwnd_ = nullptr;
};
