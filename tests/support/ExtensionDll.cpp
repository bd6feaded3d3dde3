#include "support/ExtensionDll.h"

const CLSID kExtensionClsid = {
    0x5B1C9E47, 0x2D83, 0x4A6F, {0x9E, 0x10, 0x7C, 0x4D, 0x2B, 0x8A, 0x63, 0xF1}};

std::string ProgramDir() {
    char path[MAX_PATH * 2] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

std::string ExtensionDllPath() {
    return ProgramDir() + "QuennelExt.dll";
}

ExtensionDll::ExtensionDll() {
    module_ = LoadLibraryA(ExtensionDllPath().c_str());
    if (!module_) return;
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(GetProcAddress(module_, "DllGetClassObject"));
    canUnloadNow_ = reinterpret_cast<NoArgFn>(GetProcAddress(module_, "DllCanUnloadNow"));
    registerServer_ = reinterpret_cast<NoArgFn>(GetProcAddress(module_, "DllRegisterServer"));
    unregisterServer_ = reinterpret_cast<NoArgFn>(GetProcAddress(module_, "DllUnregisterServer"));
}

ExtensionDll::~ExtensionDll() {
    if (module_) FreeLibrary(module_);
}

HRESULT ExtensionDll::GetClassObject(REFCLSID clsid, REFIID iid, void** out) const {
    return getClassObject_ ? getClassObject_(clsid, iid, out) : E_UNEXPECTED;
}

HRESULT ExtensionDll::CanUnloadNow() const { return canUnloadNow_ ? canUnloadNow_() : E_UNEXPECTED; }
HRESULT ExtensionDll::RegisterServer() const { return registerServer_ ? registerServer_() : E_UNEXPECTED; }
HRESULT ExtensionDll::UnregisterServer() const { return unregisterServer_ ? unregisterServer_() : E_UNEXPECTED; }

HRESULT ExtensionDll::CreateExtension(REFIID iid, void** out) const {
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassObject(kExtensionClsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    return hr;
}
