// Memory runs out inside the extension: the Nth allocation of an operation
// fails, for every N until the operation runs through. The answer is always a
// result code (no exception across the COM boundary, no crash), references
// and media are given back, a failed command starts nothing, and nothing of
// a half-built menu is left behind.
#include <map>

#include "Reliability.h"

namespace {

std::string Tally(const std::map<HRESULT, int>& results) {
    std::string out;
    for (const auto& [hr, count] : results) {
        char text[48];
        std::snprintf(text, sizeof text, "%s%d x 0x%08lX", out.empty() ? "" : ", ", count,
                      static_cast<unsigned long>(hr));
        out += text;
    }
    return out;
}

// Runs `op` with the Nth allocation failing, N = 1, 2, ... until a run meets
// no failure; `check` looks at each result. Returns the number of cut runs.
template <typename Op, typename Check>
long Sweep(Op op, Check check, std::map<HRESULT, int>& results) {
    for (long n = 1; n < 20000; ++n) {
        Spy::mallocSinceArm = 0;
        Spy::failMallocAt = n;
        const HRESULT hr = op();
        const long seen = Spy::mallocSinceArm;
        Spy::failMallocAt = 0;
        ++results[hr];
        const bool cut = seen >= n;
        check(hr, cut, n);
        if (!cut) return n - 1;
    }
    ADD_FAILURE() << "the operation never ran through";
    return -1;
}

const std::vector<std::string> kSelection = {"C:\\Bilder\\a.jpg", "C:\\Bilder\\b.PNG", "C:\\Bilder\\c.txt",
                                             "C:\\Bilder\\d.tiff", "C:\\Bilder\\e.pspimage"};

TEST(AllocationFailure, EveryOperationAtEveryAllocation) {
    ExtensionHost host("oom", true);
    ASSERT_TRUE(host.Ready());
    Meter meter;
    std::map<HRESULT, int> create, init, query, invoke;

    // CreateInstance.
    Ref<IClassFactory> factory;
    ASSERT_EQ(host.Dll().GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);
    const long boxesBefore = Spy::calls.messageBox;
    long cutCreates = 0;
    const long createCuts = Sweep(
        [&] {
            void* object = reinterpret_cast<void*>(1);
            const HRESULT hr = factory->CreateInstance(nullptr, IID_IContextMenu, &object);
            if (hr == S_OK) {
                static_cast<IUnknown*>(object)->Release();
            } else {
                EXPECT_EQ(object, nullptr);
            }
            return hr;
        },
        [&](HRESULT hr, bool cut, long n) {
            if (cut && FAILED(hr)) {
                ++cutCreates;
                EXPECT_EQ(hr, E_UNEXPECTED) << "CreateInstance cut at " << n;
            }
        },
        create);
    EXPECT_EQ(Spy::calls.messageBox - boxesBefore, cutCreates) << "a failed construction shows one message box";
    factory.Reset();

    // Initialize.
    const long initCuts = Sweep(
        [&] {
            DropDataObject data(kSelection);
            const HRESULT hr = host.Select(&data);
            EXPECT_EQ(data.Refs(), 0);
            EXPECT_EQ(data.OutstandingMedia(), 0) << "medium not released";
            return hr;
        },
        [&](HRESULT hr, bool, long n) {
            EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY || hr == E_UNEXPECTED) << "Initialize cut at " << n;
            if (FAILED(hr)) {
                EXPECT_EQ(host.MenuResult(), S_OK) << "a failed Initialize left a selection";
            }
        },
        init);
    ASSERT_EQ(host.Select(kSelection), S_OK);

    // QueryContextMenu.
    Spy::calls.Reset();
    const long queryCuts = Sweep(
        [&] {
            const HMENU shell = CreatePopupMenu();
            const HRESULT hr = host.Menu()->QueryContextMenu(shell, 0, 100, 200, CMF_NORMAL);
            DestroyMenu(shell);
            return hr;
        },
        [&](HRESULT hr, bool, long n) {
            EXPECT_TRUE(hr == kMenuBuilt || hr == E_OUTOFMEMORY || hr == E_UNEXPECTED) << "cut at " << n;
        },
        query);
    size_t popupsAlive = 0;
    for (HMENU popup : Spy::Popups())
        if (IsMenu(popup)) ++popupsAlive;
    EXPECT_EQ(popupsAlive, 0u) << "a popup of a cut QueryContextMenu was left behind";

    // InvokeCommand.
    const long invokeCuts = Sweep(
        [&] {
            DeleteFileA(host.ListFile().c_str());
            const long starts = Spy::calls.shellExecute;
            const HRESULT hr = host.Invoke(2);
            if (FAILED(hr)) {
                EXPECT_EQ(Spy::calls.shellExecute, starts) << "started after a failure";
            }
            return hr;
        },
        [&](HRESULT hr, bool, long n) {
            if (hr == S_OK) {
                std::string bytes;
                EXPECT_TRUE(ReadWholeFile(host.ListFile(), bytes));
                std::vector<std::string> accepted = kSelection;
                accepted.erase(accepted.begin() + 2);  // c.txt
                EXPECT_EQ(bytes, ListBytes(accepted)) << "cut at " << n;
            }
        },
        invoke);

    host.ReleaseObject();
    EXPECT_EQ(host.Dll().CanUnloadNow(), S_OK) << "an object of a cut call stayed counted";
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    const long total = createCuts + initCuts + queryCuts + invokeCuts + 4;
    AddFigure({"allocation N failing in each operation", static_cast<uint64_t>(total),
               "CreateInstance " + std::to_string(createCuts) + " cuts (" + Tally(create) + "), Initialize " +
                   std::to_string(initCuts) + " (" + Tally(init) + "), QueryContextMenu " +
                   std::to_string(queryCuts) + " (" + Tally(query) + "), InvokeCommand " +
                   std::to_string(invokeCuts) + " (" + Tally(invoke) + "); popups left 0",
               meter.Text()});
}

}  // namespace
