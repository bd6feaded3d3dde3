// The module as a whole: the size and imports of the DLL, the time from
// LoadLibrary to the first DllGetClassObject, one factory round trip (each
// against a minimal DLL with the same exports), and the private bytes the
// module-wide list holds for a large selection.
#include "Bench.h"

#include <psapi.h>

#include <cstdio>

#include "support/PeImage.h"

namespace {

using namespace bench;

std::string MinimalDllPath() { return ProgramDir() + "bench_minimaldll.dll"; }

using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);

GetClassObjectFn ClassObjectExport(HMODULE module) {
    return reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
}

// LoadLibrary to the first factory in hand; the factory's release and the
// unload are not timed. Answers false when the DLL did not serve.
bool LoadOnce(const std::string& path, double& seconds, bool& unloaded) {
    const double start = Now();
    HMODULE module = LoadLibraryA(path.c_str());
    IClassFactory* factory = nullptr;
    const GetClassObjectFn get = module ? ClassObjectExport(module) : nullptr;
    const HRESULT hr = get ? get(kExtensionClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) : E_FAIL;
    seconds = Now() - start;
    if (factory) factory->Release();
    if (module) FreeLibrary(module);
    unloaded = GetModuleHandleA(path.c_str()) == nullptr;
    return SUCCEEDED(hr);
}

// Factory, object, and both released again, `count` times.
bool RoundTrips(GetClassObjectFn get, int count) {
    for (int i = 0; i < count; ++i) {
        IClassFactory* factory = nullptr;
        if (FAILED(get(kExtensionClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) return false;
        IContextMenu* menu = nullptr;
        const HRESULT hr = factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu));
        if (menu) menu->Release();
        factory->Release();
        if (FAILED(hr)) return false;
    }
    return true;
}

LONGLONG FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool IsSystemDll(const std::string& name) {
    static const char* const kSystem[] = {"advapi32.dll", "gdi32.dll",   "kernel32.dll", "msvcrt.dll",
                                          "ole32.dll",    "oleaut32.dll", "shell32.dll",  "user32.dll",
                                          "shlwapi.dll",  "comctl32.dll", "uuid.dll"};
    for (const char* s : kSystem)
        if (lstrcmpiA(name.c_str(), s) == 0) return true;
    return false;
}

struct MemoryFigures {
    double privateUsage;   // GetProcessMemoryInfo's PrivateUsage
    double workingSet;     // its WorkingSetSize
    double committed;      // committed private pages, summed over VirtualQuery
};

MemoryFigures MemoryNow() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                            sizeof counters);
    double committed = 0;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    auto* address = static_cast<BYTE*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < system.lpMaximumApplicationAddress && VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) committed += static_cast<double>(region.RegionSize);
        address = static_cast<BYTE*>(region.BaseAddress) + region.RegionSize;
    }
    return {static_cast<double>(counters.PrivateUsage), static_cast<double>(counters.WorkingSetSize), committed};
}

}  // namespace

namespace sections {

void Size() {
    for (const bool ours : {true, false}) {
        const std::string path = ours ? ExtensionDllPath() : MinimalDllPath();
        PeImage image;
        if (!image.Load(path)) {
            std::printf("NOTE\tsize: %s: %s\n", path.c_str(), image.Error().c_str());
            continue;
        }
        std::string imports;
        bool systemOnly = true;
        for (const auto& dll : image.ImportedDlls()) {
            imports += (imports.empty() ? "" : " ") + dll;
            systemOnly = systemOnly && IsSystemDll(dll);
        }
        const auto delayed = image.DelayImportedDlls();
        for (const auto& dll : delayed) {
            imports += " (delay)" + dll;
            systemOnly = systemOnly && IsSystemDll(dll);
        }
        const double size = static_cast<double>(FileSize(path));
        if (ours) {
            Emit({"size.dll", "QuennelExt.dll size", Bytes(size), "262,144 B (256 KiB)",
                  size / 262144.0, "< 1.00", ""});
            Emit({"size.imports", "QuennelExt.dll imports", imports, "system DLLs only", 0, "system only",
                  systemOnly ? "system only: yes" : "system only: NO"});
        } else {
            Emit({"size.minimal", "bench_minimaldll.dll size and imports", Bytes(size), imports, 0, "", ""});
        }
    }
}

void ModuleLoad() {
    const std::string ours = ExtensionDllPath();
    const std::string minimal = MinimalDllPath();
    const int runs = 51;
    std::vector<double> a, b;
    bool ok = true, unloaded = true;
    for (int r = 0; r < runs; ++r) {
        for (int half = 0; half < 2; ++half) {
            const bool oursNow = (half == 0) == (r % 2 == 0);
            double seconds = 0;
            bool gone = false;
            ok = LoadOnce(oursNow ? ours : minimal, seconds, gone) && ok;
            unloaded = unloaded && gone;
            (oursNow ? a : b).push_back(seconds);
        }
    }
    if (!ok) std::printf("NOTE\tload: a DLL did not hand out its factory\n");
    const double o = Median(a), f = Median(b);
    Emit({"load", "LoadLibrary to first DllGetClassObject", Microseconds(o), Microseconds(f) + " (minimal DLL)", o / f,
          "<= 1.20", std::string("runs ") + std::to_string(runs) + (unloaded ? ", unloaded each time" : ", NOT unloaded")});
    // Part of what the module's start-up does that the minimal DLL does not:
    // its menu bitmap made into a DIB section.
    HMODULE module = LoadLibraryA(ours.c_str());
    if (module) {
        const double bitmap = TimeMedian(runs, [&] {
            HANDLE image = LoadImageA(module, "P2M2", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
            if (image) DeleteObject(image);
        });
        Emit({"load.bitmap", "  the start-up's LoadImageA of the menu bitmap, alone", Microseconds(bitmap), "", 0, "",
              "runs " + std::to_string(runs)});
        FreeLibrary(module);
    }
}

void RoundTrip() {
    HMODULE ours = LoadLibraryA(ExtensionDllPath().c_str());
    HMODULE minimal = LoadLibraryA(MinimalDllPath().c_str());
    const GetClassObjectFn getOurs = ours ? ClassObjectExport(ours) : nullptr;
    const GetClassObjectFn getMinimal = minimal ? ClassObjectExport(minimal) : nullptr;
    if (!getOurs || !getMinimal) {
        std::printf("NOTE\tround trip: cannot load both DLLs\n");
    } else {
        const int batch = 1000;
        bool ok = true;
        double o = 0, f = 0;
        TimePair(
            31, [&] { ok = RoundTrips(getOurs, batch) && ok; }, [&] { ok = RoundTrips(getMinimal, batch) && ok; }, o,
            f);
        if (!ok) std::printf("NOTE\tround trip: a call failed\n");
        Emit({"roundtrip", "DllGetClassObject, CreateInstance, both Release", Microseconds(o / batch),
              Microseconds(f / batch) + " (minimal DLL)", o / f, "<= 1.20", "31 batches of 1,000"});
        // The frame looks the factory up under a shared lock, which the
        // minimal DLL does without: what one lock and unlock cost here.
        SRWLOCK lock = SRWLOCK_INIT;
        const double pair = TimeMedian(31, [&] {
            for (int i = 0; i < batch; ++i) {
                AcquireSRWLockShared(&lock);
                ReleaseSRWLockShared(&lock);
            }
        });
        Emit({"roundtrip.lock", "  shared SRW lock and unlock, alone", Microseconds(pair / batch), "", 0, "",
              "31 batches of 1,000"});
    }
    if (minimal) FreeLibrary(minimal);
    if (ours) FreeLibrary(ours);
}

void Memory(const Options& options) {
    Extension ext;
    bench::Selection selection;
    if (!ext.Ready() || !PrepareMixedSelection(options.largest, selection)) {
        std::printf("NOTE\tmemory: no extension object or no selection files\n");
        return;
    }
    double pathBytes = 0, kept = 0;
    for (size_t i = 0; i < selection.paths.size(); ++i) {
        if (!selection.kept[i]) continue;
        pathBytes += static_cast<double>(selection.paths[i].size());
        kept += 1;
    }
    FixedDropData data(BuildDropList(selection.paths, true));
    std::vector<double> privateUsage, workingSet, committed;
    for (int r = 0; r < 5; ++r) {
        SelectOnePicture(ext);  // frees the previous large list
        const MemoryFigures before = MemoryNow();
        if (ext.Init()->Initialize(nullptr, &data, nullptr) != S_OK) std::printf("NOTE\tmemory: Initialize failed\n");
        const MemoryFigures after = MemoryNow();
        privateUsage.push_back(after.privateUsage - before.privateUsage);
        workingSet.push_back(after.workingSet - before.workingSet);
        committed.push_back(after.committed - before.committed);
    }
    SelectOnePicture(ext);
    const double usage = Median(privateUsage), pages = Median(committed), resident = Median(workingSet);
    // Wine reports PrivateUsage from the Unix side, where it may not move at
    // all; the committed private pages are then the figure that does.
    const bool usageMoves = usage > 0;
    const double figure = usageMoves ? usage : pages;
    char note[200];
    std::snprintf(note, sizeof note, "%.0f of %zu paths kept; deltas: PrivateUsage %s, committed private %s, working set %s",
                  kept, selection.paths.size(), Bytes(usage).c_str(), Bytes(pages).c_str(), Bytes(resident).c_str());
    Emit({"memory",
          std::string("List memory, ") + std::to_string(selection.paths.size()) + " paths (" +
              (usageMoves ? "PrivateUsage" : "committed private pages") + ", median of 5)",
          Bytes(figure), Bytes(pathBytes) + " (the kept paths)", figure / pathBytes, "<= 2.00", note});
}

}  // namespace sections
