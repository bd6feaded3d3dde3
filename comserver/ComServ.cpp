#include "comserver/ComServ.h"

#include <new>

TComServer* ComServer = nullptr;
HINSTANCE HInstance = nullptr;
DWORD Win32Platform = 0;

TComServer::TComServer() = default;

TComServer::~TComServer() {
    // Each factory unlinks itself from the class manager as it goes.
    ComClassManager()->VisitFactories(this, [](TComObjectFactory* factory) { delete factory; });
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
        TComObjectFactory* factory = ComClassManager()->FindFactory(rclsid);
        if (!factory) return CLASS_E_CLASSNOTAVAILABLE;
        if (!IsEqualGUID(riid, IID_IClassFactory) && !IsEqualGUID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        IClassFactory* face = factory;
        *ppv = face;
        face->AddRef();
        return S_OK;
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
