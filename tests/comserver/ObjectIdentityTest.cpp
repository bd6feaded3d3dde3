// The extension object's interface table, reference counting and COM
// aggregation, through the real exports of the built DLL.
#include <gtest/gtest.h>

#include "ComTestSupport.h"

namespace {

class ObjectIdentity : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dll.Loaded()) << ExtensionDllPath();
        ASSERT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);
    }
    void TearDown() override {
        factory.Reset();
        EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "an object or factory reference outlived the test";
    }

    ExtensionDll dll;
    Ref<IClassFactory> factory;
};

TEST_F(ObjectIdentity, EveryPointerReachesTheSameObject) {
    IUnknown* start = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&start)), S_OK);
    EXPECT_EQ(CountOf(start), 1u);

    // The pointer of each interface, asked for through each interface.
    IUnknown* pointers[4] = {};
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(start->QueryInterface(*kObjectInterfaces[i], reinterpret_cast<void**>(&pointers[i])), S_OK);
    }
    EXPECT_EQ(pointers[0], start) << "IContextMenu asked again gives the same pointer";
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) EXPECT_NE(pointers[i], pointers[j]) << i << " and " << j << " share a pointer";

    for (IUnknown* through : pointers) {
        for (int i = 0; i < 4; ++i) {
            void* out = nullptr;
            ASSERT_EQ(through->QueryInterface(*kObjectInterfaces[i], &out), S_OK);
            EXPECT_EQ(out, pointers[i]);
            static_cast<IUnknown*>(out)->Release();
        }
    }
    // One count for the whole object: each AddRef, through any pointer,
    // answers one more.
    EXPECT_EQ(CountOf(start), 5u);
    ULONG expected = 5;
    for (IUnknown* p : pointers) EXPECT_EQ(p->AddRef(), ++expected);
    for (IUnknown* p : pointers) EXPECT_EQ(p->Release(), --expected);
    for (IUnknown* p : pointers) EXPECT_EQ(p->Release(), --expected);
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(start->Release(), 0u);
}

TEST_F(ObjectIdentity, MissingInterfacesLeaveTheCountAlone) {
    Ref<IShellExtInit> init;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, init.OutVoid()), S_OK);
    for (const IID* iid : {&IID_IDataObject, &IID_IClassFactory, &IID_IContextMenu2, &IID_IContextMenu3,
                           &IID_IMarshal, &IID_IDispatch, &kExtensionClsid}) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(init->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(init->QueryInterface(IID_IContextMenu, nullptr), E_POINTER);
    EXPECT_EQ(CountOf(init.Get()), 1u);
}

TEST_F(ObjectIdentity, InterfaceSupportsErrorInfo) {
    Ref<ISupportErrorInfo> info;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISupportErrorInfo, info.OutVoid()), S_OK);
    for (const IID* iid : kObjectInterfaces) EXPECT_EQ(info->InterfaceSupportsErrorInfo(*iid), S_OK);
    for (const IID* iid : {&IID_IClassFactory, &IID_IDataObject, &IID_IContextMenu2, &IID_IDispatch})
        EXPECT_EQ(info->InterfaceSupportsErrorInfo(*iid), S_FALSE);
}

// The object's own IUnknown is the inner, non-delegating one; every other
// interface delegates to the controlling object.
TEST_F(ObjectIdentity, AggregatedObjectDelegatesToItsOuter) {
    TestOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    ASSERT_NE(inner, nullptr);
    ASSERT_NE(inner, static_cast<IUnknown*>(&outer));
    outer.inner = inner;
    EXPECT_EQ(outer.refs, 1) << "the outer object is held without a reference";
    EXPECT_EQ(CountOf(inner), 1u);

    IUnknown* same = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&same)), S_OK);
    EXPECT_EQ(same, inner) << "the inner IUnknown answers for itself";
    EXPECT_EQ(CountOf(inner), 2u);
    same->Release();
    EXPECT_EQ(outer.refs, 1);

    IContextMenu* menu = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    EXPECT_EQ(outer.refs, 2) << "the query's AddRef went to the outer object";
    EXPECT_EQ(CountOf(inner), 1u) << "and not to the inner count";

    EXPECT_EQ(menu->AddRef(), 3u);
    EXPECT_EQ(menu->Release(), 2u);
    EXPECT_EQ(CountOf(inner), 1u);

    // Queries through a delegating interface are the outer object's.
    const LONG queriesBefore = outer.queries;
    IUnknown* controller = nullptr;
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&controller)), S_OK);
    EXPECT_EQ(controller, static_cast<IUnknown*>(&outer));
    controller->Release();
    ISupportErrorInfo* info = nullptr;
    ASSERT_EQ(menu->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    EXPECT_EQ(outer.queries, queriesBefore + 1);
    EXPECT_EQ(info->InterfaceSupportsErrorInfo(IID_IShellExtInit), S_OK);
    EXPECT_EQ(outer.refs, 3);
    EXPECT_EQ(info->Release(), 2u);
    EXPECT_EQ(menu->Release(), 1u);
    EXPECT_EQ(CountOf(inner), 1u);

    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(outer.refs, 1);
}

}  // namespace
