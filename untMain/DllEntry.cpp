// The module's entry point. The C runtime's own start-up has run before it
// and its shut-down runs after it.
//
// The C++ runtime is linked in statically, so it lives and dies with this
// module rather than with the process, and two pieces of it would outlive
// every unload (FreeLibrary, or CoFreeUnusedLibraries in a long-running
// Explorer) if left alone:
// - the exception-handling emergency pool of libstdc++ (some 19 KB on i686,
//   73 KB on x86_64), handed back by __gnu_cxx::__freeres;
// - the thread record that the pthreads layer makes for the thread that
//   loads the module (i686: the unwinder's frame registration runs a
//   pthread_once there), with an event and a thread handle. The pthreads
//   layer releases such a record at thread detach only; on process detach it
//   merely drops its TLS slot. ReleaseRuntimeThreadState gives the runtime
//   that thread detach for the unloading thread, just before.
#include <windows.h>

#include "untMain/KontextMenuShellExt.h"

namespace __gnu_cxx {
void __freeres() throw();
}

namespace {

// A TLS callback, sorted by its section name before the pthreads layer's
// own (".CRT$XLF") and after the C runtime's (".CRT$XLC", ".CRT$XLD"). On an
// unload it calls every callback that follows it with DLL_THREAD_DETACH,
// as if the unloading thread ended; those callbacks then get their
// DLL_PROCESS_DETACH from the loader as always.
void NTAPI ReleaseRuntimeThreadState(PVOID module, DWORD reason, PVOID reserved) {
    if (reason != DLL_PROCESS_DETACH || reserved) return;  // only FreeLibrary
    auto* base = static_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (!dir.VirtualAddress) return;
    const auto* tls = reinterpret_cast<const IMAGE_TLS_DIRECTORY*>(base + dir.VirtualAddress);
    bool following = false;
    for (auto* callback = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(tls->AddressOfCallBacks); *callback;
         ++callback) {
        if (following) (*callback)(module, DLL_THREAD_DETACH, nullptr);
        if (*callback == &ReleaseRuntimeThreadState) following = true;
    }
}

}  // namespace

extern "C" __attribute__((used, section(".CRT$XLE")))
const PIMAGE_TLS_CALLBACK QuennelReleaseRuntimeThreadState = &ReleaseRuntimeThreadState;

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
