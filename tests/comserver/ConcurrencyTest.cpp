// Reference counts under concurrency: several threads count the same factory
// and object up and down, and create and destroy objects, at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "ComTestSupport.h"

namespace {

constexpr int kThreads = 8;

// Runs `work(i)` on kThreads threads released together.
void RunTogether(const std::function<void(int)>& work) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.push_back(StartThread([&work, go, i] {
            WaitForSingleObject(go, INFINITE);
            work(i);
        }));
    SetEvent(go);
    JoinAll(threads);
    CloseHandle(go);
}

// kThreads × perThread AddRefs at once, then as many Releases: each call's
// result is the value of its own interlocked step, so the AddRefs together
// answer every value from base + 1 to base + total exactly once, and the
// Releases every value from base to base + total - 1.
void ExpectExactCounts(IUnknown* const* pointers, int pointerCount, ULONG base) {
    const int perThread = 100000;
    const ULONG total = kThreads * perThread;
    std::vector<std::vector<ULONG>> seen(kThreads);
    RunTogether([&](int t) {
        IUnknown* p = pointers[t % pointerCount];
        seen[t].reserve(perThread);
        for (int i = 0; i < perThread; ++i) seen[t].push_back(p->AddRef());
    });
    std::vector<ULONG> all;
    for (auto& s : seen) all.insert(all.end(), s.begin(), s.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), total);
    for (ULONG i = 0; i < total; ++i) ASSERT_EQ(all[i], base + 1 + i) << "AddRef results repeat or skip";

    for (auto& s : seen) s.clear();
    RunTogether([&](int t) {
        IUnknown* p = pointers[t % pointerCount];
        for (int i = 0; i < perThread; ++i) seen[t].push_back(p->Release());
    });
    all.clear();
    for (auto& s : seen) all.insert(all.end(), s.begin(), s.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), total);
    for (ULONG i = 0; i < total; ++i) ASSERT_EQ(all[i], base + i) << "Release results repeat or skip";
}

class Concurrency : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dll.Loaded());
        ASSERT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);
    }
    ExtensionDll dll;
    Ref<IClassFactory> factory;
};

TEST_F(Concurrency, FactoryCountIsExact) {
    IUnknown* pointer = factory.Get();
    ExpectExactCounts(&pointer, 1, 1);
    EXPECT_EQ(CountOf(factory.Get()), 1u);
}

TEST_F(Concurrency, ObjectCountIsExactThroughEveryInterface) {
    Ref<IUnknown> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, object.OutVoid()), S_OK);
    IUnknown* pointers[4] = {};
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(object->QueryInterface(*kObjectInterfaces[i], reinterpret_cast<void**>(&pointers[i])), S_OK);
    ExpectExactCounts(pointers, 4, 5);
    for (IUnknown* p : pointers) p->Release();
    EXPECT_EQ(CountOf(object.Get()), 1u);
}

// Objects and factory references made and dropped on many threads at once:
// the module's counts end exactly at zero.
TEST_F(Concurrency, CreateAndReleaseOnManyThreads) {
    std::vector<int> failures(kThreads, 0);
    RunTogether([&](int t) {
        for (int i = 0; i < 2000; ++i) {
            IClassFactory* f = nullptr;
            if (dll.GetClassObject(kExtensionClsid, IID_IClassFactory, reinterpret_cast<void**>(&f)) != S_OK) {
                ++failures[t];
                continue;
            }
            IContextMenu* menu = nullptr;
            if (f->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)) != S_OK) {
                ++failures[t];
            } else {
                IShellExtInit* init = nullptr;
                if (menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)) == S_OK)
                    init->Release();
                else
                    ++failures[t];
                if (menu->Release() != 0) ++failures[t];
            }
            f->Release();
        }
    });
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    EXPECT_EQ(CountOf(factory.Get()), 1u);
    factory.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "the object or factory count did not come back to zero";
}

}  // namespace
