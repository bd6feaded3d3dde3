// The extension through the real COM runtime: registered with
// CoRegisterClassObject, or found through a class key that the test writes,
// and unloaded by CoFreeUnusedLibraries.
#include <gtest/gtest.h>

#include <cstdio>

#include "ComTestSupport.h"

namespace {

const char kClassKey[] = "CLSID\\{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}";
const char kServerKey[] = "CLSID\\{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}\\InprocServer32";

using CanUnloadFn = HRESULT(WINAPI*)();

// DllCanUnloadNow of the module as COM loaded it; no reference of our own.
HRESULT CanUnloadNowOfLoadedModule() {
    HMODULE module = GetModuleHandleA("QuennelExt.dll");
    if (!module) return E_FAIL;
    auto fn = reinterpret_cast<CanUnloadFn>(GetProcAddress(module, "DllCanUnloadNow"));
    return fn ? fn() : E_FAIL;
}

TEST(ComRuntime, ClassObjectRegisteredWithCoRegisterClassObject) {
    ComApartment apartment;
    ASSERT_TRUE(SUCCEEDED(apartment.Result()));
    ExtensionDll dll;
    ASSERT_TRUE(dll.Loaded());
    Ref<IClassFactory> factory;
    ASSERT_EQ(dll.GetClassObject(kExtensionClsid, IID_IClassFactory, factory.OutVoid()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(kExtensionClsid, factory.Get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                    &cookie),
              S_OK);
    {
        Ref<IClassFactory> fromCom;
        ASSERT_EQ(CoGetClassObject(kExtensionClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   fromCom.OutVoid()),
                  S_OK);
        EXPECT_EQ(fromCom.Get(), factory.Get());

        Ref<IContextMenu> menu;
        ASSERT_EQ(CoCreateInstance(kExtensionClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                   menu.OutVoid()),
                  S_OK);
        Ref<IShellExtInit> init;
        EXPECT_EQ(menu->QueryInterface(IID_IShellExtInit, init.OutVoid()), S_OK);
        EXPECT_EQ(CountOf(menu.Get()), 2u);

        Ref<IUnknown> missing;
        EXPECT_EQ(CoCreateInstance(kExtensionClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDataObject,
                                   missing.OutVoid()),
                  E_NOINTERFACE);
        EXPECT_FALSE(missing);

        TestOuter outer;
        Ref<IUnknown> inner;
        ASSERT_EQ(CoCreateInstance(kExtensionClsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.OutVoid()),
                  S_OK);
        outer.inner = inner.Get();
        Ref<IContextMenu> aggregated;
        ASSERT_EQ(inner->QueryInterface(IID_IContextMenu, aggregated.OutVoid()), S_OK);
        EXPECT_EQ(outer.refs, 2);
        aggregated.Reset();
        EXPECT_EQ(outer.refs, 1);
        EXPECT_EQ(CoCreateInstance(kExtensionClsid, &outer, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                   aggregated.OutVoid()),
                  CLASS_E_NOAGGREGATION);
    }
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CountOf(factory.Get()), 1u) << "COM kept a reference on the factory";
    factory.Reset();
    EXPECT_EQ(dll.CanUnloadNow(), S_OK);
}

// Registers the built DLL as the class's in-process server for the scope.
// Wine's COM reads classes from HKEY_CLASSES_ROOT alone (a key below
// HKEY_CURRENT_USER\Software\Classes is not looked at), so the entry goes
// there; a registration that was there before is put back afterwards.
class ServerRegistration {
public:
    ServerRegistration() {
        HKEY key = nullptr;
        existed_ = RegOpenKeyExA(HKEY_CLASSES_ROOT, kClassKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (existed_) {
            RegCloseKey(key);
            hadServer_ = Read(nullptr, savedPath_);
            hadModel_ = Read("ThreadingModel", savedModel_);
        }
        ok_ = Write(nullptr, ExtensionDllPath()) && Write("ThreadingModel", "Apartment");
    }
    ~ServerRegistration() {
        if (!existed_) {
            RegDeleteTreeA(HKEY_CLASSES_ROOT, kClassKey);
            return;
        }
        if (hadServer_) Write(nullptr, savedPath_);
        if (hadModel_) Write("ThreadingModel", savedModel_);
    }
    bool Written() const { return ok_; }

private:
    static bool Read(const char* name, std::string& value) {
        char buffer[1024] = {};
        DWORD size = sizeof buffer - 1;
        if (RegGetValueA(HKEY_CLASSES_ROOT, kServerKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
            ERROR_SUCCESS)
            return false;
        value = buffer;
        return true;
    }
    static bool Write(const char* name, const std::string& value) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, kServerKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return false;
        const bool ok = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
        RegCloseKey(key);
        return ok;
    }

    bool ok_ = false;
    bool existed_ = false;
    bool hadServer_ = false, hadModel_ = false;
    std::string savedPath_, savedModel_;
};

// CoFreeUnusedLibraries until the module is gone, for a bounded time.
bool FreedByCom() {
    for (int i = 0; i < 200; ++i) {
        CoFreeUnusedLibraries();
        if (!GetModuleHandleA("QuennelExt.dll")) return true;
        Sleep(5);
    }
    return false;
}

class RegisteredClass : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        ASSERT_TRUE(registration.Written());
        ASSERT_EQ(GetModuleHandleA("QuennelExt.dll"), nullptr) << "loaded by someone else";
    }
    ComApartment apartment;
    ServerRegistration registration;
};

TEST_F(RegisteredClass, CoCreateInstanceLoadsAndCoFreeUnusedLibrariesUnloads) {
    Ref<IContextMenu> menu;
    ASSERT_EQ(CoCreateInstance(kExtensionClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu, menu.OutVoid()),
              S_OK);
    ASSERT_NE(GetModuleHandleA("QuennelExt.dll"), nullptr);
    EXPECT_EQ(CanUnloadNowOfLoadedModule(), S_FALSE);

    // An object alive keeps the module.
    CoFreeUnusedLibraries();
    EXPECT_NE(GetModuleHandleA("QuennelExt.dll"), nullptr);

    Ref<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(kExtensionClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    menu.Reset();
    // So does a reference on the factory ...
    EXPECT_EQ(CanUnloadNowOfLoadedModule(), S_FALSE);
    CoFreeUnusedLibraries();
    EXPECT_NE(GetModuleHandleA("QuennelExt.dll"), nullptr);
    // ... and a lock.
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    ASSERT_EQ(CoLockObjectExternal(factory.Get(), FALSE, TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(CanUnloadNowOfLoadedModule(), S_FALSE);
    CoFreeUnusedLibraries();
    ASSERT_NE(GetModuleHandleA("QuennelExt.dll"), nullptr);
    ASSERT_EQ(CoGetClassObject(kExtensionClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();

    EXPECT_EQ(CanUnloadNowOfLoadedModule(), S_OK);
    EXPECT_TRUE(FreedByCom()) << "CoFreeUnusedLibraries kept the module";
}

TEST_F(RegisteredClass, RepeatedComLoadsLeakNothing) {
    auto cycle = [] {
        Ref<IShellExtInit> init;
        const HRESULT hr = CoCreateInstance(kExtensionClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                            init.OutVoid());
        EXPECT_EQ(hr, S_OK);
        init.Reset();
        return hr == S_OK && FreedByCom();
    };
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(cycle());
    const ProcessUsage before = MeasureProcess();
    const int cycles = 200;
    for (int i = 0; i < cycles; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
    const ProcessUsage after = MeasureProcess();
    std::printf("[ figures  ] %d COM load/unload cycles: handles %zu -> %zu, heap bytes %zu -> %zu\n", cycles,
                before.handles, after.handles, before.heapBytes, after.heapBytes);
    EXPECT_LE(after.handles, before.handles);
#ifdef _WIN64
    const size_t runtimeBytesPerLoad = 0;
#else
    const size_t runtimeBytesPerLoad = 320;  // see LifecycleTest.cpp
#endif
    EXPECT_LT(after.heapBytes, before.heapBytes + cycles * runtimeBytesPerLoad + 4096);
}

}  // namespace
