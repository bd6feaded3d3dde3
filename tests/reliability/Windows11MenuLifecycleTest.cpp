// QuennelMenu.dll loaded, used and unloaded over and over, as Explorer may
// over a long session: the module must give back the static runtime's TLS
// indexes and memory at every unload, as QuennelExt.dll does. Each cycle
// drives it as Windows 11's menu does: the class by its identifier, a site,
// a selection, the sub-commands. Runs in a child process, since a leaked
// TLS index per load ends a process with an abort before the last cycle.
#include <shobjidl.h>

#include "Reliability.h"

namespace {

const CLSID kMenuClsid = {0xB1DF1B31, 0xF10C, 0x4575, {0xBE, 0x9E, 0x64, 0x3E, 0xB1, 0xBA, 0x14, 0x75}};
constexpr int kCycles = 1200;

// A site that is only an IUnknown, as the menu's own is to the command.
class Site final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
};

std::string OneCycle(const std::wstring& module, IShellItemArray* items) {
    const HMODULE dll = LoadLibraryW(module.c_str());
    if (!dll) return "LoadLibrary failed";
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    std::string problem;
    {
        Site site;
        Ref<IClassFactory> factory;
        Ref<IExplorerCommand> root;
        Ref<IObjectWithSite> withSite;
        Ref<IEnumExplorerCommand> children;
        if (!getClassObject || !canUnloadNow ||
            getClassObject(kMenuClsid, IID_IClassFactory, factory.OutVoid()) != S_OK ||
            factory->CreateInstance(nullptr, IID_IExplorerCommand, root.OutVoid()) != S_OK ||
            root->QueryInterface(IID_IObjectWithSite, withSite.OutVoid()) != S_OK) {
            problem = "command not created";
        } else {
            factory.Reset();
            withSite->SetSite(&site);
            EXPCMDSTATE state = ECS_HIDDEN;
            LPWSTR title = nullptr;
            if (root->GetState(items, TRUE, &state) != S_OK || state != ECS_ENABLED) problem = "hidden";
            if (root->GetTitle(items, &title) != S_OK || !title) problem = "no title";
            CoTaskMemFree(title);
            int count = 0;
            if (root->EnumSubCommands(children.Out()) == S_OK) {
                for (;;) {
                    Ref<IExplorerCommand> child;
                    ULONG fetched = 0;
                    if (children->Next(1, child.Out(), &fetched) != S_OK) break;
                    LPWSTR tip = nullptr;
                    if (child->GetToolTip(items, &tip) == S_OK) ++count;
                    CoTaskMemFree(tip);
                }
            }
            if (count != 20) problem = "sub-commands: " + std::to_string(count);
            withSite->SetSite(nullptr);
        }
    }
    if (problem.empty() && canUnloadNow() != S_OK) problem = "DllCanUnloadNow refused after the last release";
    FreeLibrary(dll);
    return problem;
}

TEST(Windows11MenuLifecycleChild, LoadUseUnloadCycles) {
    if (!InChildProcess()) GTEST_SKIP() << "runs in a child process of Windows11MenuLifecycle.LoadUseUnloadCycles";
    ComApartment apartment;
    DeleteSettingsKey();
    std::wstring folder;
    for (char c : ProgramDir()) folder += static_cast<wchar_t>(static_cast<unsigned char>(c));
    const std::wstring module = folder + L"QuennelMenu.dll";
    PIDLIST_ABSOLUTE item = nullptr;
    ASSERT_EQ(SHParseDisplayName(module.c_str(), nullptr, &item, 0, nullptr), S_OK);
    folder.pop_back();
    PIDLIST_ABSOLUTE folderItem = nullptr;
    ASSERT_EQ(SHParseDisplayName(folder.c_str(), nullptr, &folderItem, 0, nullptr), S_OK);
    PCIDLIST_ABSOLUTE list[] = {folderItem, item};
    Ref<IShellItemArray> items;
    ASSERT_EQ(SHCreateShellItemArrayFromIDLists(2, list, items.Out()), S_OK);

    for (int i = 0; i < 20; ++i) ASSERT_EQ(OneCycle(module, items.Get()), "");  // warm-up
    int ok = 0;
    std::string firstProblem;
    const DWORD tlsBefore = LowestFreeTlsIndex();
    Meter meter;
    for (int i = 0; i < kCycles; ++i) {
        const std::string problem = OneCycle(module, items.Get());
        if (problem.empty())
            ++ok;
        else if (firstProblem.empty())
            firstProblem = "cycle " + std::to_string(i) + ": " + problem;
        if (i % 100 == 0)
            ReportProgress(std::to_string(i) + " cycles done, lowest free TLS index " +
                           std::to_string(LowestFreeTlsIndex()));
    }
    meter.Stop();
    const DWORD tlsAfter = LowestFreeTlsIndex();
    items.Reset();
    CoTaskMemFree(item);
    CoTaskMemFree(folderItem);
    EXPECT_EQ(ok, kCycles) << firstProblem;
    EXPECT_EQ(GetModuleHandleA("QuennelMenu.dll"), nullptr) << "the module is still loaded";
    EXPECT_LE(tlsAfter, tlsBefore + 2) << "TLS indexes not given back at unload";
    EXPECT_LE(meter.HandleGrowth(), 10);
    EXPECT_LE(meter.PrivateGrowth(), 1 << 20);
    char result[200];
    std::snprintf(result, sizeof result, "%d/%d cycles clean; lowest free TLS index %lu -> %lu", ok, kCycles,
                  tlsBefore, tlsAfter);
    AddFigure({"Windows 11 menu module: load/create/use/release/unload cycles", kCycles, result, meter.Text()});
}

TEST(Windows11MenuLifecycle, LoadUseUnloadCycles) {
    if (InChildProcess()) GTEST_SKIP();
    if (sizeof(void*) == 4) GTEST_SKIP() << "QuennelMenu.dll is built for x86_64 only: Windows 11 has no 32-bit Explorer";
    const ChildRun run = RunInChild("Windows11MenuLifecycleChild.LoadUseUnloadCycles", 240000);
    ASSERT_TRUE(run.started) << "could not start the child process";
    for (const Figure& f : run.figures) AddFigure(f);
    EXPECT_TRUE(run.finished) << "the cycles hung";
    EXPECT_EQ(run.exitCode, 0u) << "the child process ended with exit code " << run.exitCode
                                << (run.exitCode == 3 ? " (abort)" : "") << " after: " << run.lastProgress
                                << "\n--- child output (tail) ---\n"
                                << run.output.substr(run.output.size() > 3000 ? run.output.size() - 3000 : 0);
}

}  // namespace
