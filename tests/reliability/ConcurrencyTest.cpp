// Several apartment threads create extension objects and run the shell's
// whole sequence at once, while a reader keeps reading the list file. The
// list file is always one thread's selection, whole; nothing crashes; every
// reference is given back.
#include <thread>

#include "Reliability.h"

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 150;

std::vector<std::string> SelectionOf(int thread) {
    std::vector<std::string> paths;
    for (int i = 0; i < 40 + 17 * thread; ++i)
        paths.push_back("C:\\Thread" + std::to_string(thread) + "\\Bild_" + std::to_string(i) + ".jpg");
    return paths;
}

struct ThreadTally {
    long rounds = 0, wrote = 0, busy = 0, otherFailures = 0, menus = 0, declined = 0, helpTexts = 0;
    std::string firstProblem;
};

void RunApartment(const ExtensionDll& dll, int thread, ThreadTally& tally) {
    ComApartment apartment;
    if (FAILED(apartment.Result())) {
        tally.firstProblem = "CoInitializeEx failed";
        return;
    }
    const std::vector<std::string> selection = SelectionOf(thread);
    for (int round = 0; round < kRounds; ++round) {
        Ref<IClassFactory> factory;
        if (dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()) != S_OK) {
            tally.firstProblem = "DllGetClassObject failed";
            return;
        }
        Ref<IContextMenu> menu;
        Ref<IShellExtInit> init;
        if (factory->CreateInstance(nullptr, IID_IContextMenu, menu.OutVoid()) != S_OK ||
            menu->QueryInterface(IID_IShellExtInit, init.OutVoid()) != S_OK) {
            tally.firstProblem = "CreateInstance failed";
            return;
        }
        DropDataObject data(selection);
        if (init->Initialize(nullptr, &data, nullptr) != S_OK || data.Refs() != 0) {
            tally.firstProblem = "Initialize failed or kept a reference";
            return;
        }
        // The selection is module-wide and unguarded: another thread's
        // Initialize under way has HasSelection false for a moment, and then
        // no menu is built. Either answer is fine; anything else is not.
        const HMENU shell = CreatePopupMenu();
        const HRESULT built = menu->QueryContextMenu(shell, 0, 100, 200, CMF_NORMAL);
        DestroyMenu(shell);
        if (built == kMenuBuilt) ++tally.menus;
        else if (built == S_OK) ++tally.declined;
        else if (tally.firstProblem.empty()) tally.firstProblem = "QueryContextMenu answered " + std::to_string(built);
        char help[80];
        if (menu->GetCommandString(1 + round % 25, GCS_HELPTEXTA, nullptr, help, sizeof help) == S_OK) ++tally.helpTexts;

        CMINVOKECOMMANDINFO info = {};
        info.cbSize = sizeof info;
        info.lpVerb = MAKEINTRESOURCEA(round % 3 == 0 ? 2 : 0);
        const HRESULT hr = menu->InvokeCommand(&info);
        if (hr == S_OK) {
            ++tally.wrote;
        } else if (hr == HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) || hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) {
            ++tally.busy;  // another thread or the reader had the file open
        } else {
            ++tally.otherFailures;
            if (tally.firstProblem.empty()) tally.firstProblem = "InvokeCommand answered " + std::to_string(hr);
        }
        ++tally.rounds;
    }
}

TEST(Concurrency, ApartmentsRunTheWholeSequenceAtOnce) {
    ExtensionHost host("conc");
    ASSERT_TRUE(host.Ready());
    host.ReleaseObject();  // the threads make their own objects
    std::vector<std::string> wholeLists;
    for (int t = 0; t < kThreads; ++t) wholeLists.push_back(ListBytes(SelectionOf(t)));

    std::atomic<bool> done{false};
    std::atomic<long> reads{0}, torn{0}, unreadable{0};
    std::string tornSample;
    Meter meter;
    std::thread reader([&] {
        while (!done) {
            std::string bytes;
            if (!ReadWholeFile(host.ListFile(), bytes)) {
                ++unreadable;  // missing at first, or held by a writer
                Sleep(1);
                continue;
            }
            ++reads;
            bool whole = false;
            for (const std::string& list : wholeLists) whole = whole || bytes == list;
            if (!whole && torn++ == 0) tornSample = bytes.substr(0, 200);
            Sleep(1);  // leave the writers room between reads
        }
    });
    std::vector<ThreadTally> tallies(kThreads);
    std::vector<std::thread> apartments;
    const ULONGLONG start = GetTickCount64();
    for (int t = 0; t < kThreads; ++t)
        apartments.emplace_back(RunApartment, std::cref(host.Dll()), t, std::ref(tallies[t]));
    for (std::thread& a : apartments) a.join();
    const ULONGLONG elapsed = GetTickCount64() - start;
    done = true;
    reader.join();
    meter.Stop();

    long rounds = 0, wrote = 0, busy = 0, other = 0, menus = 0, declined = 0, helps = 0;
    for (const ThreadTally& t : tallies) {
        EXPECT_EQ(t.firstProblem, "");
        rounds += t.rounds;
        wrote += t.wrote;
        busy += t.busy;
        other += t.otherFailures;
        menus += t.menus;
        declined += t.declined;
        helps += t.helpTexts;
    }
    EXPECT_EQ(rounds, kThreads * kRounds);
    EXPECT_EQ(other, 0);
    EXPECT_EQ(torn.load(), 0) << "a reader saw a list that is no thread's whole selection: " << tornSample;
    EXPECT_EQ(menus + declined, rounds);
    EXPECT_EQ(helps, rounds);
    EXPECT_EQ(host.Dll().CanUnloadNow(), S_OK) << "a reference or object outlived the threads";
    EXPECT_GT(reads.load(), 0);
    size_t alive = 0;
    for (HMENU popup : Spy::Popups())
        if (IsMenu(popup)) ++alive;
    EXPECT_EQ(alive, 0u);
    EXPECT_LE(meter.HandleGrowth(), 4);

    char result[300];
    std::snprintf(result, sizeof result,
                  "%d apartments x %d rounds in %llu ms: %ld lists written, %ld refused while the file was busy, "
                  "%ld other failures; %ld menus, %ld declined mid-Initialize; reader: %ld whole reads, %ld torn; "
                  "DllCanUnloadNow S_OK",
                  kThreads, kRounds, elapsed, wrote, busy, other, menus, declined, reads.load(), torn.load());
    AddFigure({"concurrent apartments (create/init/menu/invoke)", static_cast<uint64_t>(rounds), result,
               meter.Text()});
}

}  // namespace
