#include <new>
#include <string>

#include "untMain/CommandTable.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"
#include "untMain/Presets.h"

namespace {

// The shell asks for default verbs only (0x1), for no verbs (0x8), or both:
// then a submenu has no place. An explorer window or a verbs-only request
// still gets it, even together with CMF_DEFAULTONLY. Higher bits (rename,
// extended verbs, ...) do not matter.
bool FlagsAllowSubmenu(UINT flags) {
    const UINT low = flags & 0xF;
    return low == CMF_NORMAL || (low & CMF_EXPLORE) != 0 || (low & CMF_VERBSONLY) != 0;
}

// Appends the presets the settings offer. The settings are read afresh each
// time, so a changed preset shows at the next right-click.
void AppendPresets(HMENU popup, UINT idCmdFirst) {
    for (const Presets::Preset& preset : Presets::Offered()) {
        const std::string caption = CommandTable::PresetCaption(preset.width, preset.height);
        AppendMenuA(popup, 0, idCmdFirst + preset.Offset(), caption.c_str());
    }
}

HMENU BuildPopup(UINT idCmdFirst) {
    HMENU popup = CreatePopupMenu();
    try {
        for (CommandOffset k = 1; k < FirstPresetOffset; ++k)
            AppendMenuA(popup, 0, idCmdFirst + k, CommandTable::CaptionOf(k));
        AppendPresets(popup, idCmdFirst);
    } catch (...) {
        if (popup) DestroyMenu(popup);
        throw;
    }
    return popup;
}

// The entry in the shell's menu that opens the popup. The record ends with
// hbmpItem (48 bytes on i686; the size follows the platform's own layout).
bool InsertSubmenuEntry(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, HMENU popup) {
    static_assert(sizeof(void*) != 4 || sizeof(MENUITEMINFOA) == 48, "MENUITEMINFOA with hbmpItem");
    MENUITEMINFOA item = {};
    item.cbSize = sizeof(MENUITEMINFOA);
    item.fMask = MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
    item.wID = idCmdFirst;
    item.hSubMenu = popup;
    item.dwTypeData = const_cast<char*>(CommandTable::CaptionOf(0));
    return InsertMenuItemA(hmenu, indexMenu, TRUE, &item) != FALSE;
}

}  // namespace

STDMETHODIMP TKontextMenuShellExt::QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst,
                                                    UINT /*idCmdLast*/, UINT uFlags) {
    try {
        if (!HasSelection.load()) return S_OK;
        if (!FlagsAllowSubmenu(uFlags)) return S_OK;

        HMENU popup = BuildPopup(idCmdFirst);
        // Once inserted, the popup belongs to hmenu; one the shell's menu did
        // not take would be lost, so it goes now.
        if (!InsertSubmenuEntry(hmenu, indexMenu, idCmdFirst, popup) && popup) DestroyMenu(popup);

        const HBITMAP bitmap = MenuBitmapHandle();
        if (bitmap) SetMenuItemBitmaps(hmenu, indexMenu, MF_BYPOSITION, bitmap, bitmap);
        // Every identifier up to idCmdFirst + 25 is taken, however many
        // presets are shown (and whatever idCmdLast says).
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, CommandCount);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
