// The entry point of each of our modules (QuennelExt.dll, QuennelMenu.dll),
// wrapped around the C runtime's; each module's DllMain is its own.
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

// The runtime's Win32 TLS indexes (the pthreads layer's own slot, emulated
// thread-locals) are taken once per load and never given back: a process
// has 1,088 of them, and an Explorer that loads and unloads the module over
// a long session would run out, at which point the runtime aborts the
// process. Every TlsAlloc and TlsFree made from inside this module goes
// through the two functions below (they take the place of the import table
// entries), so the indexes still held can be freed once the runtime's own
// shut-down has finished.
namespace {

constexpr int kMaxTrackedIndexes = 32;
SRWLOCK TrackedLock = SRWLOCK_INIT;
DWORD TrackedIndexes[kMaxTrackedIndexes];
int TrackedCount = 0;

template <typename Fn>
Fn Kernel32Function(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), name)));
}

// No function-local statics here: their guard would itself reach the pthreads
// layer, and so TlsAlloc, from inside TlsAlloc.
DWORD WINAPI TrackedTlsAlloc() {
    const auto real = Kernel32Function<DWORD(WINAPI*)()>("TlsAlloc");
    const DWORD index = real();
    if (index == TLS_OUT_OF_INDEXES) return index;
    AcquireSRWLockExclusive(&TrackedLock);
    if (TrackedCount < kMaxTrackedIndexes) TrackedIndexes[TrackedCount++] = index;
    ReleaseSRWLockExclusive(&TrackedLock);
    return index;
}

BOOL WINAPI TrackedTlsFree(DWORD index) {
    const auto real = Kernel32Function<BOOL(WINAPI*)(DWORD)>("TlsFree");
    AcquireSRWLockExclusive(&TrackedLock);
    for (int i = 0; i < TrackedCount; ++i) {
        if (TrackedIndexes[i] == index) {
            TrackedIndexes[i] = TrackedIndexes[--TrackedCount];
            break;
        }
    }
    ReleaseSRWLockExclusive(&TrackedLock);
    return real(index);
}

void FreeTrackedTlsIndexes() {
    // TlsFree here would come back through TrackedTlsFree and its lock.
    const auto real = Kernel32Function<BOOL(WINAPI*)(DWORD)>("TlsFree");
    AcquireSRWLockExclusive(&TrackedLock);
    for (int i = 0; i < TrackedCount; ++i) real(TrackedIndexes[i]);
    TrackedCount = 0;
    ReleaseSRWLockExclusive(&TrackedLock);
}

}  // namespace

#if defined(__i386__)
#define IMPORT_SLOT(name, decorated) __asm__("__imp__" #name "@" #decorated)
#else
#define IMPORT_SLOT(name, decorated) __asm__("__imp_" #name)
#endif

extern "C" {
DWORD(WINAPI* QuennelTlsAllocSlot)() IMPORT_SLOT(TlsAlloc, 0) = &TrackedTlsAlloc;
BOOL(WINAPI* QuennelTlsFreeSlot)(DWORD) IMPORT_SLOT(TlsFree, 4) = &TrackedTlsFree;
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

// The C runtime's entry point, which runs its start-up, DllMain and its
// shut-down.
extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

// The module's real entry point (set by the link options): after the
// runtime's shut-down on an unload, nothing of it runs again, so its TLS
// indexes can go.
extern "C" BOOL WINAPI QuennelDllEntry(HANDLE module, DWORD reason, LPVOID reserved) {
    const BOOL result = DllMainCRTStartup(module, reason, reserved);
    if (reason == DLL_PROCESS_DETACH && !reserved) {
        // The runtime's shut-down may have made a thread record again (an
        // exception raised during this load leaves its thread-locals to be
        // torn down then): release it once more, now for good.
        ReleaseRuntimeThreadState(module, DLL_PROCESS_DETACH, nullptr);
        FreeTrackedTlsIndexes();
    }
    return result;
}

