// The module's exports and its class factory. The package's COM registration
// (windows.comServer in the manifest) names the module and the class; the
// module registers nothing itself, so it exports no registration functions.
#include <windows.h>
#include <ole2.h>
#include <shobjidl.h>

#include <new>

#include "menu11/ExplorerCommands.h"
#include "menu11/MenuClass.h"

const CLSID CLSID_QuennelExplorerCommand = {
    0xB1DF1B31, 0xF10C, 0x4575, {0xBE, 0x9E, 0x64, 0x3E, 0xB1, 0xBA, 0x14, 0x75}};

namespace {

HINSTANCE ModuleInstance = nullptr;
volatile LONG ObjectCount = 0;
volatile LONG LockCount = 0;

// One factory for the process, never freed: its references do not keep the
// module, only objects and LockServer do.
class TCommandFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            IExplorerCommand* root = CreateRootCommand();
            const HRESULT hr = root->QueryInterface(riid, ppv);
            root->Release();
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        MenuModule::Lock(lock != FALSE);
        return S_OK;
    }
};

TCommandFactory Factory;

}  // namespace

namespace MenuModule {

void ObjectCreated() noexcept { InterlockedIncrement(&ObjectCount); }
void ObjectDestroyed() noexcept { InterlockedDecrement(&ObjectCount); }
void Lock(bool lock) noexcept {
    if (lock)
        InterlockedIncrement(&LockCount);
    else
        InterlockedDecrement(&LockCount);
}
bool InUse() noexcept { return ObjectCount != 0 || LockCount != 0; }
HINSTANCE Instance() noexcept { return ModuleInstance; }

}  // namespace MenuModule

namespace __gnu_cxx {
void __freeres() throw();
}

// Called by the runtime's entry point, itself wrapped by QuennelDllEntry
// (untMain/RuntimeUnload.cpp).
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) ModuleInstance = instance;
    // At process end the memory goes with the process, and other threads
    // may have been cut off anywhere: leave the runtime alone then.
    if (reason == DLL_PROCESS_DETACH && !reserved) __gnu_cxx::__freeres();
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return MenuModule::InUse() ? S_FALSE : S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_QuennelExplorerCommand)) return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(riid, ppv);
}
