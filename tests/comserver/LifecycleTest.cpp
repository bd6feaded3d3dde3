// Module start-up and shut-down: the start-up steps and their undoing on the
// test program's own copy of the code (where the failure can be provoked),
// and the built DLL under the loader's notifications.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "ComTestSupport.h"
#include "comserver/ComServ.h"
#include "support/DropDataObject.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"

namespace {

int versionCalls = 0;
BOOL(WINAPI* realGetVersionExA)(LPOSVERSIONINFOA) = nullptr;
BOOL WINAPI CountingGetVersionExA(LPOSVERSIONINFOA info) {
    ++versionCalls;
    return realGetVersionExA(info);
}

bool IsDibSection12x12x24(HBITMAP handle) {
    DIBSECTION section = {};
    if (GetObjectA(handle, sizeof section, &section) != sizeof section) return false;
    return section.dsBm.bmWidth == 12 && section.dsBm.bmHeight == 12 && section.dsBmih.biBitCount == 24 &&
           section.dsBm.bmBits != nullptr;
}

// The pixels of the resource "P2M2" of `module`, 432 bytes, bottom-up.
std::vector<BYTE> ResourcePixels(HMODULE module) {
    HRSRC found = FindResourceA(module, "P2M2", RT_BITMAP);
    if (!found || SizeofResource(module, found) != 40 + 432) return {};
    const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    return std::vector<BYTE>(data + 40, data + 40 + 432);
}

// Initialize with one folder and QueryContextMenu into a fresh menu: the
// bitmap on the inserted entry, or null.
HBITMAP MenuBitmapOf(IUnknown* object) {
    Ref<IShellExtInit> init;
    Ref<IContextMenu> menu;
    if (FAILED(object->QueryInterface(IID_IShellExtInit, init.OutVoid())) ||
        FAILED(object->QueryInterface(IID_IContextMenu, menu.OutVoid())))
        return nullptr;
    std::string folder = ProgramDir();
    folder.pop_back();
    DropDataObject data(std::vector<std::string>{folder});
    if (init->Initialize(nullptr, &data, nullptr) != S_OK) return nullptr;
    HMENU shellMenu = CreatePopupMenu();
    const HRESULT hr = menu->QueryContextMenu(shellMenu, 0, 100, 200, CMF_NORMAL);
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_CHECKMARKS;
    HBITMAP bitmap = nullptr;
    if (hr == MAKE_HRESULT(SEVERITY_SUCCESS, 0, 26) && GetMenuItemInfoA(shellMenu, 0, TRUE, &item) &&
        item.hbmpChecked == item.hbmpUnchecked)
        bitmap = item.hbmpUnchecked;
    DestroyMenu(shellMenu);
    return bitmap;
}

// ---------------------------------------------------------------------------
// The start-up steps on the test program's own copy of the module code.

class ModuleStartupSteps : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ComServer, nullptr) << "a previous test left the frame up";
        ASSERT_TRUE(dll.Loaded());
        ASSERT_TRUE(boxes.Applied());
        ASSERT_TRUE(versionCount.Applied());
        realGetVersionExA = reinterpret_cast<decltype(realGetVersionExA)>(versionCount.Original());
        versionCalls = 0;
    }
    void TearDown() override { ModuleProcessDetach(); }

    ExtensionDll dll;  // lends its resource "P2M2"
    HMODULE self = GetModuleHandleA(nullptr);
    MessageBoxRecorder boxes{self};
    ImportPatch versionCount{self, "KERNEL32.dll", "GetVersionExA",
                             reinterpret_cast<void*>(&CountingGetVersionExA)};
};

TEST_F(ModuleStartupSteps, AfterStartupEverythingIsInPlace) {
    ASSERT_EQ(ModuleProcessAttach(dll.Module()), TRUE);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(HInstance, dll.Module());
    EXPECT_EQ(versionCalls, 1);
    EXPECT_EQ(Win32Platform, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));

    ASSERT_NE(ComServer, nullptr);
    EXPECT_EQ(ComServer->ObjectCount(), 0);
    EXPECT_EQ(ComServer->FactoryCount(), 0);
    EXPECT_TRUE(ComServer->IsInprocServer());
    EXPECT_EQ(ComServer->ServerKeyName(), "InprocServer32");
    EXPECT_EQ(ComServer->TypeLib(), nullptr);

    TComObjectFactory* factory = ComClassManager()->FindFactory(kExtensionClsid);
    ASSERT_NE(factory, nullptr);
    EXPECT_NE(dynamic_cast<TKontextMenuShellExtFactory*>(factory), nullptr);
    EXPECT_EQ(factory->ComServer(), ComServer);
    EXPECT_EQ(factory->ClassName(), "");
    EXPECT_EQ(factory->ClassProgId(), "");
    EXPECT_EQ(factory->Description(), "Vardel Quennel");
    EXPECT_EQ(factory->Instancing(), ciMultiInstance);
    EXPECT_EQ(factory->ThreadingModel(), tmApartment);
    EXPECT_EQ(ComClassManager()->FindFactory(kSomeOtherClsid), nullptr);

    ASSERT_NE(SelectionList, nullptr);
    EXPECT_EQ(SelectionList->Count(), 0u);
    EXPECT_FALSE(HasSelection.load());

    const HBITMAP bitmap = MenuBitmapHandle();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(MenuBitmapHandle(), bitmap) << "one bitmap for every caller";
    ASSERT_TRUE(IsDibSection12x12x24(bitmap));
    DIBSECTION section = {};
    GetObjectA(bitmap, sizeof section, &section);
    const std::vector<BYTE> pixels = ResourcePixels(dll.Module());
    ASSERT_EQ(pixels.size(), 432u);
    EXPECT_EQ(std::memcmp(section.dsBm.bmBits, pixels.data(), pixels.size()), 0)
        << "the DIB section does not hold the resource's pixels";

    // Start-up runs once until shut-down: no second factory, no new bitmap.
    ModuleStartup(dll.Module());
    EXPECT_EQ(MenuBitmapHandle(), bitmap);
    int factories = 0;
    ComClassManager()->VisitFactories(ComServer, [&](TComObjectFactory*) { ++factories; });
    EXPECT_EQ(factories, 1);

    ModuleProcessDetach();
    EXPECT_EQ(GetObjectType(bitmap), 0u) << "shut-down left the GDI bitmap alive";
    EXPECT_EQ(MenuBitmap, nullptr);
    EXPECT_EQ(SelectionList, nullptr);
    EXPECT_EQ(ComServer, nullptr);
    EXPECT_EQ(ComClassManager(false), nullptr);
    ModuleProcessDetach();  // a second detach finds nothing to do
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ModuleStartupSteps, MissingBitmapFailsTheLoad) {
    // The test program has no resource "P2M2".
    EXPECT_EQ(ModuleProcessAttach(self), FALSE);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].owner, nullptr);
    EXPECT_EQ(boxes.Boxes()[0].caption, "Anwendungsfehler");
    EXPECT_EQ(boxes.Boxes()[0].text, "Ressource P2M2 nicht gefunden");
    EXPECT_EQ(boxes.Boxes()[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONSTOP));

    // Everything made before the failure is gone again.
    EXPECT_EQ(MenuBitmap, nullptr);
    EXPECT_EQ(SelectionList, nullptr);
    EXPECT_EQ(ComServer, nullptr);
    EXPECT_EQ(ComClassManager(false), nullptr);

    // The C runtime and the loader follow a failed attach with detaches.
    ModuleProcessDetach();
    ModuleProcessDetach();
    EXPECT_EQ(boxes.Boxes().size(), 1u);

    // And a later start-up is a full one.
    ASSERT_EQ(ModuleProcessAttach(dll.Module()), TRUE);
    EXPECT_NE(MenuBitmapHandle(), nullptr);
    EXPECT_NE(ComClassManager()->FindFactory(kExtensionClsid), nullptr);
}

// The module's own objects, made and destroyed many times in this process:
// whatever they leave behind shows in the heap, free of the noise that
// mapping and unmapping a DLL brings.
TEST_F(ModuleStartupSteps, RepeatedStartupAndShutdownLeaveNothing) {
    auto cycle = [this] {
        if (ModuleProcessAttach(dll.Module()) != TRUE) return false;
        Ref<IUnknown> object;
        Ref<IClassFactory> factory;
        EXPECT_EQ(DllGetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);
        if (factory) {
            EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid()), S_OK);
        }
        factory.Reset();
        const HBITMAP bitmap = object ? MenuBitmapOf(object.Get()) : nullptr;
        EXPECT_NE(bitmap, nullptr);
        object.Reset();
        EXPECT_EQ(DllCanUnloadNow(), S_OK);
        ModuleProcessDetach();
        EXPECT_EQ(GetObjectType(bitmap), 0u);
        return bitmap != nullptr && !HasFailure();
    };
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(cycle());
    const ProcessUsage before = MeasureProcess();
    const int cycles = 400;
    for (int i = 0; i < cycles; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
    const ProcessUsage after = MeasureProcess();
    std::printf("[ figures  ] %d start-up/use/shut-down cycles: handles %zu -> %zu, heap bytes %zu -> %zu\n",
                cycles, before.handles, after.handles, before.heapBytes, after.heapBytes);
    EXPECT_LE(after.handles, before.handles);
    // Even the module's smallest allocation, lost once per cycle, would add
    // several kilobytes.
    EXPECT_LT(after.heapBytes, before.heapBytes + 1024);
    EXPECT_TRUE(boxes.Boxes().empty());
}

// ---------------------------------------------------------------------------
// The built DLL.

TEST(ModuleLifecycle, LoadedModuleServesItsBitmap) {
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    Ref<IUnknown> first, second;
    ASSERT_EQ(dll.CreateExtension(IID_IUnknown, first.OutVoid()), S_OK);
    ASSERT_EQ(dll.CreateExtension(IID_IUnknown, second.OutVoid()), S_OK);
    const HBITMAP bitmap = MenuBitmapOf(first.Get());
    ASSERT_NE(bitmap, nullptr) << "the menu entry carries no bitmap";
    EXPECT_TRUE(IsDibSection12x12x24(bitmap));
    EXPECT_EQ(MenuBitmapOf(first.Get()), bitmap) << "the bitmap is made once per load";
    EXPECT_EQ(MenuBitmapOf(second.Get()), bitmap) << "every object's menu gets the same bitmap";
}

// A copy of the DLL without "P2M2": the loader is told the start-up failed.
TEST(ModuleLifecycle, CopyWithoutBitmapDoesNotLoad) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string copy = std::string(temp) + "QuennelNoBitmap.dll";
    // The resource directory names the bitmap as a counted UTF-16 string;
    // renaming it to "P2MX" leaves a DLL that lacks "P2M2" and nothing else.
    std::vector<char> bytes;
    {
        std::ifstream in(ExtensionDllPath(), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const char name[] = {4, 0, 'P', 0, '2', 0, 'M', 0, '2', 0};
    auto at = std::search(bytes.begin(), bytes.end(), std::begin(name), std::end(name));
    ASSERT_NE(at, bytes.end());
    ASSERT_EQ(std::search(at + 1, bytes.end(), std::begin(name), std::end(name)), bytes.end());
    at[8] = 'X';
    {
        std::ofstream out(copy, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }
    HMODULE data = LoadLibraryExA(copy.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(FindResourceA(data, "P2M2", RT_BITMAP), nullptr) << "the resource is still there";
    FreeLibrary(data);

    // With a display the start-up's message box would wait for a click:
    // close it from another thread, polling for it for a bounded time.
    volatile LONG loadDone = 0;
    HANDLE closer = StartThread([&loadDone] {
        for (int i = 0; i < 3000 && !loadDone; ++i) {
            if (HWND box = FindWindowA(nullptr, "Anwendungsfehler")) PostMessageA(box, WM_COMMAND, IDOK, 0);
            Sleep(10);
        }
    });
    SetLastError(0);
    HMODULE loaded = LoadLibraryA(copy.c_str());
    const DWORD error = GetLastError();
    loadDone = 1;
    std::vector<HANDLE> closers{closer};
    JoinAll(closers);
    EXPECT_EQ(loaded, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(GetModuleHandleA("QuennelNoBitmap.dll"), nullptr);
    if (loaded) FreeLibrary(loaded);
    DeleteFileA(copy.c_str());
}

// Thread attach and detach notifications, in any number and order, touch no
// count and no module-wide state.
TEST(ModuleLifecycle, ThreadNotificationsChangeNothing) {
    // Threads that exist before the load end while it is loaded: their
    // detach comes without an attach.
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> early;
    for (int i = 0; i < 8; ++i) early.push_back(StartThread([release] { WaitForSingleObject(release, INFINITE); }));

    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    Ref<IClassFactory> factory;
    ASSERT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);
    Ref<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid()), S_OK);
    const HBITMAP bitmap = MenuBitmapOf(object.Get());
    ASSERT_NE(bitmap, nullptr);

    SetEvent(release);
    JoinAll(early);
    CloseHandle(release);

    // Threads born and ended while it is loaded, some calling into it.
    for (int round = 0; round < 4; ++round) {
        std::vector<ULONG> seen(16, 0);
        std::vector<HANDLE> threads;
        IClassFactory* f = factory.Get();
        for (int i = 0; i < 16; ++i) threads.push_back(StartThread([f, &seen, i] { seen[i] = CountOf(f); }));
        JoinAll(threads);
        for (ULONG count : seen) EXPECT_GE(count, 1u);
    }

    EXPECT_EQ(CountOf(factory.Get()), 1u);
    EXPECT_EQ(CountOf(object.Get()), 1u);
    EXPECT_EQ(GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    EXPECT_EQ(MenuBitmapOf(object.Get()), bitmap);
    object.Reset();
    factory.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "a thread notification moved a count";
}

// ---------------------------------------------------------------------------
// Load, use, unload, many times: no handle, memory or GDI bitmap stays.

// What the statically linked runtime itself leaves behind per load, out of
// the module's reach: on i686 the pthreads layer keeps the loading thread's
// record on a free list inside the module's image (about 230 bytes a load).
// Leaks of the module's own objects are measured exactly above, in this
// process, without the runtime.
#ifdef _WIN64
constexpr size_t kRuntimeBytesPerLoad = 0;
#else
constexpr size_t kRuntimeBytesPerLoad = 320;
#endif

// One load → use → unload; false (with a failure recorded) when a step fails.
bool LoadUseUnload() {
    HBITMAP bitmap = nullptr;
    {
        ExtensionDll dll;
        EXPECT_TRUE(dll.Loaded());
        if (!dll.Loaded()) return false;
        Ref<IUnknown> object;
        EXPECT_EQ(dll.CreateExtension(IID_IUnknown, object.OutVoid()), S_OK);
        if (!object) return false;
        bitmap = MenuBitmapOf(object.Get());
        EXPECT_NE(bitmap, nullptr);
        object.Reset();
        EXPECT_EQ(dll.CanUnloadNow(), S_OK);
    }
    EXPECT_EQ(GetModuleHandleA("QuennelExt.dll"), nullptr) << "the module stayed loaded";
    EXPECT_EQ(GetObjectType(bitmap), 0u) << "the GDI bitmap outlived the module";
    return bitmap != nullptr && !::testing::Test::HasFailure();
}

TEST(ModuleLifecycle, RepeatedLoadUseUnloadLeaksNothing) {
    ASSERT_EQ(GetModuleHandleA("QuennelExt.dll"), nullptr);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(LoadUseUnload());  // let caches settle
    const ProcessUsage before = MeasureProcess();
    const int cycles = 400;
    for (int i = 0; i < cycles; ++i) ASSERT_TRUE(LoadUseUnload()) << "cycle " << i;
    const ProcessUsage after = MeasureProcess();
    std::printf("[ figures  ] %d load/use/unload cycles: handles %zu -> %zu, heap bytes %zu -> %zu, "
                "committed bytes %zu -> %zu\n",
                cycles, before.handles, after.handles, before.heapBytes, after.heapBytes, before.committedBytes,
                after.committedBytes);
    EXPECT_LE(after.handles, before.handles);
    EXPECT_LT(after.heapBytes, before.heapBytes + cycles * kRuntimeBytesPerLoad + 4096);
    EXPECT_LT(after.committedBytes, before.committedBytes + cycles * kRuntimeBytesPerLoad + 64 * 1024);
}

}  // namespace
