// The module's entry point. The C runtime's own start-up has run before it
// and its shut-down runs after it.
#include <windows.h>

#include "untMain/KontextMenuShellExt.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return ModuleProcessAttach(instance);
    case DLL_PROCESS_DETACH:
        ModuleProcessDetach();
        return TRUE;
    default:
        return TRUE;  // thread attach and detach touch nothing
    }
}
