#include "comserver/ComServ.h"

TComServer* ComServer = nullptr;
HINSTANCE HInstance = nullptr;
DWORD Win32Platform = 0;

TComServer::TComServer() = default;

TComServer::~TComServer() {
    // Each factory unlinks itself from the class manager as it goes.
    if (TComClassManager* manager = ComClassManager(false))
        manager->VisitFactories(this, [](TComObjectFactory* factory) { delete factory; });
}

void ComServerStartup() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
    Win32Platform = GetVersionExA(&info) ? info.dwPlatformId : 0;
    ComServer = new TComServer();
}

void ComServerShutdown() {
    delete ComServer;
    ComServer = nullptr;
    FreeComClassManager();
}

LONG TComServer::AdjustObjectCount(bool created) {
    return created ? InterlockedIncrement(&objectCount_) : InterlockedDecrement(&objectCount_);
}

LONG TComServer::AdjustFactoryCount(bool added) {
    return added ? InterlockedIncrement(&factoryCount_) : InterlockedDecrement(&factoryCount_);
}

std::string TComServer::ServerKeyName() {
    return isInprocServer_ ? "InprocServer32" : "LocalServer32";
}

void TComServer::UpdateRegistration(bool doRegister) {
    // No type library to register: typeLib_ is always empty.
    startRegistration_ = doRegister;
    ComClassManager()->VisitFactories(this, [this](TComObjectFactory* factory) {
        if (factory->Instancing() != ciInternal) factory->UpdateRegistration(startRegistration_);
    });
}

// ---------------------------------------------------------------------------
// Exports. Nothing may leave them as an exception.

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    try {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        TComClassManager* manager = ComClassManager(false);
        TComObjectFactory* factory = manager ? manager->FindFactory(rclsid) : nullptr;
        if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
        // The factory's own table: IClassFactory, IUnknown; one pointer for both.
        return factory->QueryInterface(riid, ppv);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDAPI DllCanUnloadNow() {
    if (!ComServer) return S_OK;
    if (ComServer->ObjectCount() == 0 && ComServer->FactoryCount() == 0) return S_OK;
    return S_FALSE;
}

namespace {
HRESULT RunRegistration(bool doRegister) {
    try {
        if (!ComServer) return E_FAIL;
        ComServer->UpdateRegistration(doRegister);
        return S_OK;
    } catch (...) {
        // The error's message is dropped: a registration tool shows its own.
        return E_FAIL;
    }
}
}  // namespace

STDAPI DllRegisterServer() {
    return RunRegistration(true);
}

STDAPI DllUnregisterServer() {
    return RunRegistration(false);
}
