// Bad arguments at every COM method of the extension: null pointers, verbs
// across the whole 16-bit range and beyond, every help-text request shape,
// menus that are null or gone. Nothing may crash, write, start or leak.
#include <random>

#include "Reliability.h"

namespace {

std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
}

TEST(BadArguments, NullPointersAndForeignIdentifiers) {
    ComApartment apartment;
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    std::mt19937 random(20240607);
    uint64_t calls = 0;
    Meter meter;

    EXPECT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, nullptr), E_POINTER);
    ++calls;
    for (int i = 0; i < 2000; ++i) {
        GUID guid;
        for (auto* p = reinterpret_cast<uint32_t*>(&guid); p < reinterpret_cast<uint32_t*>(&guid + 1); ++p)
            *p = random();
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(dll.GetClassObject(guid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
        EXPECT_EQ(out, nullptr);
        out = reinterpret_cast<void*>(1);
        EXPECT_EQ(dll.GetClassObject(kExtensionClsid, guid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        calls += 2;
    }

    Ref<IClassFactory> factory;
    ASSERT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    calls += 2;

    Ref<IContextMenu> menu;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, menu.OutVoid()), S_OK);
    Ref<IShellExtInit> init;
    ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, init.OutVoid()), S_OK);
    Ref<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(menu->QueryInterface(IID_ISupportErrorInfo, errorInfo.OutVoid()), S_OK);
    for (REFIID iid : {IID_IUnknown, IID_IContextMenu, IID_IShellExtInit, IID_ISupportErrorInfo, IID_IDataObject}) {
        EXPECT_TRUE(FAILED(menu->QueryInterface(iid, nullptr)));
        EXPECT_TRUE(FAILED(init->QueryInterface(iid, nullptr)));
        calls += 2;
    }
    for (int i = 0; i < 2000; ++i) {
        GUID guid;
        for (auto* p = reinterpret_cast<uint32_t*>(&guid); p < reinterpret_cast<uint32_t*>(&guid + 1); ++p)
            *p = random();
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(menu->QueryInterface(guid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(guid), S_FALSE);
        calls += 2;
    }
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_TRUE(FAILED(menu->InvokeCommand(nullptr)));
    EXPECT_EQ(menu->GetCommandString(1, GCS_HELPTEXTA, nullptr, nullptr, 100), E_UNEXPECTED);
    EXPECT_EQ(menu->QueryContextMenu(nullptr, 0, 0, 0, CMF_NORMAL), S_OK);  // nothing selected yet
    calls += 4;

    errorInfo.Reset();
    init.Reset();
    menu.Reset();
    factory.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "a reference was left behind";
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"null out pointers, foreign CLSIDs/IIDs", calls, "all answered with a failure code, none crashed",
               meter.Text()});
}

// Every lpVerb from 0 to 0x10000 and random values above: only 0..25 do
// anything, everything else is refused before the settings are read.
TEST(BadArguments, EveryVerbValue) {
    ExtensionHost host("verbs");
    ASSERT_TRUE(host.Ready());
    ASSERT_EQ(host.Select({"C:\\Bilder\\a.jpg"}), S_OK);
    std::vector<UINT_PTR> verbs;
    for (UINT_PTR v = 0; v <= 0x10000; ++v) verbs.push_back(v);
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        UINT_PTR v = static_cast<UINT_PTR>(random());
        verbs.push_back(i % 2 ? v : (v & 0xFFFF) | (UINT_PTR(1) << (16 + i % (8 * sizeof(UINT_PTR) - 16))));
    }
    for (UINT_PTR v : {UINT_PTR(-1), UINT_PTR(0x10019), UINT_PTR(0xFFFF0002), UINT_PTR(0x7FFF0000)})
        verbs.push_back(v);

    size_t ok = 0, invalidArg = 0, fail = 0, other = 0;
    Meter meter;
    for (UINT_PTR verb : verbs) {
        const long writesBefore = Spy::calls.createFile, startsBefore = Spy::calls.shellExecute,
                   readsBefore = Spy::calls.RegistryReads();
        const HRESULT hr = host.Invoke(verb);
        const bool offset = (verb >> 16) == 0;
        if (offset && verb <= 25) {
            ASSERT_EQ(hr, S_OK) << Hex(verb);
            ASSERT_EQ(Spy::calls.createFile, writesBefore + 1) << Hex(verb);
            ASSERT_EQ(Spy::calls.shellExecute, startsBefore + (verb ? 1 : 0)) << Hex(verb);
            ++ok;
            continue;
        }
        if (offset) {
            ASSERT_EQ(hr, E_INVALIDARG) << Hex(verb);
            ++invalidArg;
        } else if (hr == E_FAIL) {
            ++fail;
        } else {
            ++other;
            ADD_FAILURE() << "verb " << Hex(verb) << " answered " << Hex(static_cast<uint32_t>(hr));
        }
        ASSERT_EQ(Spy::calls.createFile, writesBefore) << "verb " << Hex(verb) << " wrote a file";
        ASSERT_EQ(Spy::calls.shellExecute, startsBefore) << "verb " << Hex(verb) << " started something";
        ASSERT_EQ(Spy::calls.RegistryReads(), readsBefore) << "verb " << Hex(verb) << " read the settings";
    }
    meter.Stop();
    EXPECT_EQ(ok, 26u);
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"lpVerb 0..0x10000 and 20,000 random values", verbs.size(),
               std::to_string(ok) + " S_OK (offsets 0-25), " + std::to_string(invalidArg) + " E_INVALIDARG, " +
                   std::to_string(fail) + " E_FAIL, " + std::to_string(other) + " other; nothing written or " +
                   "started for any other value",
               meter.Text()});
}

// idCmd 0..70,000 under every uFlags 0..7 with changing buffer sizes, and
// every buffer size 0..300 for the offsets around the valid range; a guard
// zone after the buffer must stay untouched.
TEST(BadArguments, GetCommandStringEveryRequest) {
    ExtensionHost host("gcs");
    ASSERT_TRUE(host.Ready());
    IContextMenu* menu = host.Menu();
    constexpr unsigned char kGuard = 0xA5;
    constexpr size_t kRoom = 300 + 64;

    // The full answer for each offset, with a buffer larger than any text.
    std::string full[26];
    for (UINT id = 1; id <= 25; ++id) {
        char buffer[512];
        std::memset(buffer, kGuard, sizeof buffer);
        ASSERT_EQ(menu->GetCommandString(id, GCS_HELPTEXTA, nullptr, buffer, sizeof buffer), S_OK);
        full[id] = buffer;
        ASSERT_GE(full[id].size(), 30u);
        ASSERT_LE(full[id].size(), 65u) << "longer than the longest help text";
    }

    unsigned char buffer[kRoom];
    uint64_t calls = 0, written = 0, refused = 0, untouchedOk = 0;
    auto check = [&](UINT_PTR id, UINT flags, UINT cchMax) {
        std::memset(buffer, kGuard, sizeof buffer);
        const HRESULT hr = menu->GetCommandString(id, flags, nullptr, reinterpret_cast<char*>(buffer), cchMax);
        ++calls;
        size_t expectWritten = 0;
        if (flags != GCS_HELPTEXTA) {
            if (hr != S_OK) return ::testing::AssertionFailure() << "flags " << flags << " answered " << hr;
            ++untouchedOk;
        } else if (id < 1 || id > 25 || cchMax == 0) {
            if (hr != E_INVALIDARG)
                return ::testing::AssertionFailure() << "id " << id << " cchMax " << cchMax << " answered " << hr;
            ++refused;
        } else {
            if (hr != S_OK) return ::testing::AssertionFailure() << "id " << id << " answered " << hr;
            const std::string& text = full[id];
            expectWritten = std::min<size_t>(text.size(), cchMax - 1) + 1;
            if (std::memcmp(buffer, text.data(), expectWritten - 1) != 0 || buffer[expectWritten - 1] != 0)
                return ::testing::AssertionFailure() << "id " << id << " cchMax " << cchMax << " wrong bytes";
            ++written;
        }
        for (size_t i = expectWritten; i < sizeof buffer; ++i)
            if (buffer[i] != kGuard)
                return ::testing::AssertionFailure() << "id " << id << " flags " << flags << " cchMax " << cchMax
                                                     << " wrote byte " << i;
        return ::testing::AssertionSuccess();
    };

    Meter meter;
    for (UINT_PTR id = 0; id <= 70000; ++id)
        for (UINT flags = 0; flags <= 7; ++flags) ASSERT_TRUE(check(id, flags, (id * 7 + flags) % 301));
    for (UINT_PTR id = 0; id <= 30; ++id)
        for (UINT flags = 0; flags <= 7; ++flags)
            for (UINT cchMax = 0; cchMax <= 300; ++cchMax) ASSERT_TRUE(check(id, flags, cchMax));
    std::vector<UINT_PTR> high = {0x10001, 0x10019, 0xFFFF0001, 0xFFFFFFFF, 0x80000001};
    if (sizeof(UINT_PTR) == 8) {
        high.push_back(static_cast<UINT_PTR>(0x100000001ULL));
        high.push_back(static_cast<UINT_PTR>(0xFFFFFFFF00000005ULL));
    }
    for (UINT_PTR id : high)
        for (UINT flags : {0u, 1u, 5u, 0xFFFFFFFFu}) ASSERT_TRUE(check(id, flags, 300));
    meter.Stop();
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"GetCommandString idCmd x uFlags x cchMax", calls,
               std::to_string(written) + " help texts written within cchMax, " + std::to_string(refused) +
                   " E_INVALIDARG, " + std::to_string(untouchedOk) + " S_OK untouched; guard zone intact",
               meter.Text()});
}

// QueryContextMenu into a null menu, a destroyed one, a real one at absurd
// positions and identifiers, under every low uFlags pattern: the popup it
// makes is always either handed over or destroyed.
TEST(BadArguments, QueryContextMenuHostileMenus) {
    ExtensionHost host("qcm");
    ASSERT_TRUE(host.Ready());
    ASSERT_EQ(host.Select({"C:\\Bilder\\a.jpg"}), S_OK);
    IContextMenu* menu = host.Menu();
    uint64_t calls = 0;
    size_t built = 0, declined = 0;
    Meter meter;

    for (UINT flags = 0; flags <= 0xFF; ++flags) {
        const UINT low = flags & 0xF;
        const HRESULT want = (low == 0x1 || low == 0x8 || low == 0x9) ? S_OK : kMenuBuilt;
        // A null menu and a destroyed one.
        EXPECT_EQ(menu->QueryContextMenu(nullptr, 0, 100, 200, flags), want) << flags;
        const HMENU gone = CreatePopupMenu();
        DestroyMenu(gone);
        EXPECT_EQ(menu->QueryContextMenu(gone, 0, 100, 200, flags), want) << flags;
        // A real menu at odd positions and identifiers.
        const HMENU real = CreatePopupMenu();
        AppendMenuA(real, MF_STRING, 1, "Open");
        for (UINT index : {0u, 1u, 7u, 0xFFFFu, 0xFFFFFFFFu}) {
            for (UINT first : {0u, 1u, 0xFFE6u, 0xFFFFFFF0u}) {
                EXPECT_EQ(menu->QueryContextMenu(real, index, first, first, flags), want) << flags;
                ++calls;
            }
        }
        DestroyMenu(real);
        calls += 2;
        (want == kMenuBuilt ? built : declined) += 22;
    }
    for (UINT flags : {0x10u, 0x20u, 0x100u, 0x8000u, 0x10000u, 0x7FFFFFF0u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        const UINT low = flags & 0xF;
        EXPECT_EQ(menu->QueryContextMenu(nullptr, 0, 1, 2, flags),
                  (low == 0x1 || low == 0x8 || low == 0x9) ? S_OK : kMenuBuilt);
        ++calls;
    }
    size_t alive = 0;
    const std::vector<HMENU> popups = Spy::Popups();
    for (HMENU popup : popups)
        if (IsMenu(popup)) ++alive;
    meter.Stop();
    EXPECT_EQ(alive, 0u) << "popups the extension made outlived their menus";
    EXPECT_GT(popups.size(), 0u);
    EXPECT_LE(meter.HandleGrowth(), kOncePerLoadHandles);
    AddFigure({"QueryContextMenu null/destroyed/odd menus, uFlags", calls,
               std::to_string(built) + " built (26), " + std::to_string(declined) + " declined (0) as the flags say; " +
                   std::to_string(popups.size()) + " popups made, " + std::to_string(alive) +
                   " left alive after their menus went",
               meter.Text()});
}

}  // namespace
