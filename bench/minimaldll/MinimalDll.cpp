// The least an in-process context-menu server can be: the four exports, a
// class factory and an object that answers IContextMenu and does nothing.
// The benchmark loads it beside QuennelExt.dll to see what loading a module
// and one factory round trip cost before any work of the extension's own.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <new>

namespace {

const CLSID kClsid = {0x5B1C9E47, 0x2D83, 0x4A6F, {0x9E, 0x10, 0x7C, 0x4D, 0x2B, 0x8A, 0x63, 0xF1}};

volatile LONG Objects = 0;
volatile LONG Locks = 0;

class MinimalMenu : public IContextMenu {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IContextMenu)) {
            *ppv = static_cast<IContextMenu*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) {
            this->~MinimalMenu();
            HeapFree(GetProcessHeap(), 0, this);
            InterlockedDecrement(&Objects);
        }
        return left;
    }
    STDMETHODIMP QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) override { return S_OK; }
    STDMETHODIMP InvokeCommand(LPCMINVOKECOMMANDINFO) override { return E_FAIL; }
    STDMETHODIMP GetCommandString(UINT_PTR, UINT, UINT*, LPSTR, UINT) override { return E_INVALIDARG; }

private:
    volatile LONG refs_ = 0;
};

class MinimalFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&Locks); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&Locks); }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        void* memory = HeapAlloc(GetProcessHeap(), 0, sizeof(MinimalMenu));
        if (!memory) return E_OUTOFMEMORY;
        auto* object = new (memory) MinimalMenu();
        InterlockedIncrement(&Objects);
        object->AddRef();
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) InterlockedIncrement(&Locks);
        else InterlockedDecrement(&Locks);
        return S_OK;
    }
};

MinimalFactory Factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(rclsid, kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return Factory.QueryInterface(riid, ppv);
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
    return Objects == 0 && Locks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() { return S_OK; }
extern "C" HRESULT WINAPI DllUnregisterServer() { return S_OK; }
