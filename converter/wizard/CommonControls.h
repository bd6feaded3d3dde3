// The common controls' window classes, registered on first use. The library
// is loaded then, not at start: a worker process and a short run that shows
// no window never load it (nor the theming it brings along).
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace CommonControls {

// What InitCommonControlsEx answers; FALSE when the library is missing.
inline BOOL Init(DWORD classes) {
    // The process's manifest picks version 6 for this name; the module stays
    // loaded for the controls made from it.
    const HMODULE library = LoadLibraryW(L"comctl32.dll");
    if (!library) return FALSE;
    using InitEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = reinterpret_cast<InitEx>(reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")));
    if (!init) return FALSE;
    INITCOMMONCONTROLSEX controls = {sizeof controls, classes};
    return init(&controls);
}

}  // namespace CommonControls
