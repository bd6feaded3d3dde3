// DllGetClassObject, DllCanUnloadNow and IClassFactory through the real
// exports of the built DLL.
#include <gtest/gtest.h>

#include "ComTestSupport.h"

namespace {

class ClassFactory : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dll.Loaded()) << ExtensionDllPath(); }

    IClassFactory* GetFactory(REFIID iid = IID_IClassFactory) {
        void* out = nullptr;
        EXPECT_EQ(dll.GetClassObject(kExtensionClsid, iid, &out), S_OK);
        return static_cast<IClassFactory*>(out);
    }

    ExtensionDll dll;
};

TEST_F(ClassFactory, FreshModuleMayUnload) {
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, OneFactoryCountedPerReference) {
    IClassFactory* first = GetFactory();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CountOf(first), 1u);
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);

    IClassFactory* second = GetFactory();
    IUnknown* asUnknown = reinterpret_cast<IUnknown*>(GetFactory(IID_IUnknown));
    EXPECT_EQ(second, first);
    EXPECT_EQ(asUnknown, static_cast<IUnknown*>(first));
    EXPECT_EQ(CountOf(first), 3u);

    EXPECT_EQ(asUnknown->Release(), 2u);
    EXPECT_EQ(second->Release(), 1u);
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);

    // A count of 0 destroys nothing: the same factory comes back.
    IClassFactory* again = GetFactory();
    EXPECT_EQ(again, first);
    EXPECT_EQ(again->Release(), 0u);
}

TEST_F(ClassFactory, FactoryQueryInterface) {
    Ref<IClassFactory> factory(GetFactory());
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(factory.Get()));
    EXPECT_EQ(CountOf(factory.Get()), 2u);
    static_cast<IUnknown*>(out)->Release();

    for (const IID* iid : {&IID_IDataObject, &IID_IContextMenu, &IID_IClassFactory2, &IID_IMarshal}) {
        out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(factory->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(CountOf(factory.Get()), 1u);
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(ClassFactory, GetClassObjectRefusals) {
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(dll.GetClassObject(kSomeOtherClsid, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll.GetClassObject(IID_IClassFactory, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);

    for (const IID* iid : {&IID_IDataObject, &IID_IContextMenu, &IID_IShellExtInit, &IID_IClassFactory2}) {
        out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(dll.GetClassObject(kExtensionClsid, *iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "a refusal left a factory reference behind";
}

TEST_F(ClassFactory, ObjectsKeepTheModuleLoaded) {
    Ref<IClassFactory> factory(GetFactory());
    Ref<IContextMenu> menu;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, menu.OutVoid()), S_OK);
    ASSERT_TRUE(menu);
    EXPECT_EQ(CountOf(menu.Get()), 1u);
    IShellExtInit* init = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    EXPECT_NE(static_cast<void*>(init), static_cast<void*>(menu.Get()));
    factory.Reset();

    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE) << "two objects alive";
    menu.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE) << "one object alive";
    EXPECT_EQ(init->Release(), 0u);
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, CreateInstanceRefusals) {
    Ref<IClassFactory> factory(GetFactory());
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);

    TestOuter outer;
    for (const IID* iid : {&IID_IContextMenu, &IID_IShellExtInit, &IID_ISupportErrorInfo, &IID_IDataObject}) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(factory->CreateInstance(&outer, *iid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(outer.addRefs + outer.releases + outer.queries, 0) << "the outer object was touched";

    // Held across the refusals: a leaked or lost object count shows when it goes.
    Ref<IContextMenu> held;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, held.OutVoid()), S_OK);
    for (const IID* iid : {&IID_IDataObject, &IID_IClassFactory, &IID_IPersistFile, &IID_IContextMenu2}) {
        void* out = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(factory->CreateInstance(nullptr, *iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    factory.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE);
    held.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK) << "the object count did not end where it began";
}

// The lock counts as one live object, apart from the reference on the factory
// that CoLockObjectExternal takes while the lock lasts.
TEST_F(ClassFactory, LockServerCountsAsAnObject) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    IClassFactory* factory = GetFactory();
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_GE(CountOf(factory), 2u) << "COM holds the locked factory";

    // Take COM's reference back without telling the factory: what remains of
    // the lock is the module's own count.
    ASSERT_EQ(CoLockObjectExternal(factory, FALSE, TRUE), S_OK);
    EXPECT_EQ(CountOf(factory), 1u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(dll.CanUnloadNow(), S_FALSE) << "an outstanding LockServer(TRUE) lets the module go";

    factory = GetFactory();
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, LockServerRoundTripInAnApartment) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    Ref<IClassFactory> factory(GetFactory());
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(CountOf(factory.Get()), 1u) << "the last unlock releases COM's references";
    factory.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

// Without COM on the thread CoLockObjectExternal fails; LockServer passes its
// result on and counts the lock all the same.
TEST_F(ClassFactory, LockServerWithoutComPassesTheFailureOn) {
    HRESULT locked = S_OK, unlocked = S_OK, whileLocked = S_OK, afterwards = S_OK;
    bool gotFactory = false;
    RunOnThread([&] {
        IClassFactory* factory = nullptr;
        if (FAILED(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
            return;
        gotFactory = true;
        locked = factory->LockServer(TRUE);
        factory->Release();
        whileLocked = dll.CanUnloadNow();
        dll.GetClassObject(kExtensionClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        unlocked = factory->LockServer(FALSE);
        factory->Release();
        afterwards = dll.CanUnloadNow();
    });
    ASSERT_TRUE(gotFactory);
    EXPECT_EQ(locked, CO_E_NOTINITIALIZED);
    EXPECT_EQ(unlocked, CO_E_NOTINITIALIZED);
    EXPECT_EQ(whileLocked, S_FALSE);
    EXPECT_EQ(afterwards, S_OK);
}

}  // namespace
