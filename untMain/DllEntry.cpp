// The module's DllMain. Its entry point, wrapped around the C runtime's so
// that the runtime's pieces go on an unload, is QuennelDllEntry
// (untMain/RuntimeUnload.cpp).
#include <windows.h>

#include "untMain/KontextMenuShellExt.h"

namespace __gnu_cxx {
void __freeres() throw();
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return ModuleProcessAttach(instance);
    case DLL_PROCESS_DETACH:
        ModuleProcessDetach();
        // At process end the memory goes with the process, and other threads
        // may have been cut off anywhere: leave the runtime alone then.
        if (!reserved) __gnu_cxx::__freeres();
        return TRUE;
    default:
        return TRUE;  // thread attach and detach touch nothing
    }
}
