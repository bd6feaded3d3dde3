// A thousand load-use-unload cycles, as COM does to an in-process server:
// LoadLibrary, DllGetClassObject, CreateInstance, the shell's calls, Release,
// DllCanUnloadNow, FreeLibrary. Handles and private bytes are measured before
// and after; each cycle's menu bitmap must be gone once the module is.
#include <thread>

#include "Reliability.h"

namespace {

struct CycleResult {
    bool ok = false;
    HBITMAP bitmap = nullptr;
    std::string problem;
};

CycleResult OneCycle(const std::string& folder, bool withThread) {
    CycleResult r;
    ExtensionDll dll;
    if (!dll.Loaded()) {
        r.problem = "LoadLibrary failed";
        return r;
    }
    {
        Ref<IClassFactory> factory;
        Ref<IContextMenu> menu;
        Ref<IShellExtInit> init;
        if (dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()) != S_OK ||
            factory->CreateInstance(nullptr, IID_IContextMenu, menu.OutVoid()) != S_OK ||
            menu->QueryInterface(IID_IShellExtInit, init.OutVoid()) != S_OK) {
            r.problem = "object not created";
            return r;
        }
        factory.Reset();
        DropDataObject data(std::vector<std::string>{folder, folder + "\\bild.jpg"});
        if (init->Initialize(nullptr, &data, nullptr) != S_OK) {
            r.problem = "Initialize failed";
            return r;
        }
        const HMENU shell = CreatePopupMenu();
        if (menu->QueryContextMenu(shell, 0, 100, 200, CMF_NORMAL) != kMenuBuilt) r.problem = "no menu";
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_CHECKMARKS;
        if (GetMenuItemInfoA(shell, 0, TRUE, &item)) r.bitmap = item.hbmpUnchecked;
        DestroyMenu(shell);
        char help[100];
        if (menu->GetCommandString(2, GCS_HELPTEXTA, nullptr, help, sizeof help) != S_OK) r.problem = "no help";
        // Thread attach and detach while loaded.
        if (withThread) std::thread([] {}).join();
    }
    if (dll.CanUnloadNow() != S_OK) r.problem = "DllCanUnloadNow refused after the last release";
    r.ok = r.problem.empty() && r.bitmap != nullptr;
    return r;  // FreeLibrary as `dll` goes
}

TEST(Lifecycle, ThousandLoadUseUnloadCycles) {
    ComApartment apartment;
    std::string folder = ProgramDir();
    folder.pop_back();
    DeleteSettingsKey();

    // Warm-up: the process's own first-use allocations are not the module's.
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(OneCycle(folder, i % 10 == 0).ok);

    constexpr int kCycles = 1000;
    int ok = 0, bitmapsAlive = 0;
    std::string firstProblem;
    Meter meter;
    const ULONGLONG start = GetTickCount64();
    for (int i = 0; i < kCycles; ++i) {
        const CycleResult r = OneCycle(folder, i % 10 == 0);
        if (r.ok) ++ok;
        else if (firstProblem.empty()) firstProblem = "cycle " + std::to_string(i) + ": " + r.problem;
        // After FreeLibrary the module's bitmap must be deleted.
        if (r.bitmap && GetObjectType(r.bitmap) != 0) ++bitmapsAlive;
    }
    const ULONGLONG elapsed = GetTickCount64() - start;
    meter.Stop();
    DeleteSettingsKey();

    EXPECT_EQ(ok, kCycles) << firstProblem;
    EXPECT_EQ(bitmapsAlive, 0) << "menu bitmaps outlived their module";
    EXPECT_EQ(GetModuleHandleA("QuennelExt.dll"), nullptr) << "the module is still loaded";
    // Bounded growth: a leak of a handle or of a kilobyte per cycle would
    // show as 1,000 handles or a megabyte.
    EXPECT_LE(meter.HandleGrowth(), 10);
    EXPECT_LE(meter.PrivateGrowth(), 1 << 20);

    char result[200];
    std::snprintf(result, sizeof result,
                  "%d/%d cycles clean in %llu ms (%.2f ms each), menu bitmaps alive after unload: %d", ok, kCycles,
                  elapsed, static_cast<double>(elapsed) / kCycles, bitmapsAlive);
    AddFigure({"load/create/use/release/unload cycles", kCycles, result, meter.Text()});
}

}  // namespace
