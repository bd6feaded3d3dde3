// Loads the built extension DLL from beside the test program and reaches it
// through its real exports, as COM and registration tools do.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

extern const CLSID kExtensionClsid;  // {5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}

// Folder of the running test program, with a trailing backslash.
std::string ProgramDir();
// Path of the extension DLL beside the test program.
std::string ExtensionDllPath();

class ExtensionDll {
public:
    ExtensionDll();  // LoadLibraryA; check Loaded()
    ~ExtensionDll();
    ExtensionDll(const ExtensionDll&) = delete;
    ExtensionDll& operator=(const ExtensionDll&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }

    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out) const;
    HRESULT CanUnloadNow() const;
    HRESULT RegisterServer() const;
    HRESULT UnregisterServer() const;

    // Factory → CreateInstance(nullptr, iid) → factory released.
    HRESULT CreateExtension(REFIID iid, void** out) const;

    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using NoArgFn = HRESULT(WINAPI*)();

private:
    HMODULE module_ = nullptr;
    GetClassObjectFn getClassObject_ = nullptr;
    NoArgFn canUnloadNow_ = nullptr;
    NoArgFn registerServer_ = nullptr;
    NoArgFn unregisterServer_ = nullptr;
};

// Owns one COM reference.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* p) : p_(p) {}
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    T** Out() { Reset(); return &p_; }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    void Reset() { if (p_) { p_->Release(); p_ = nullptr; } }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// Initialises COM for the current thread (apartment) for the scope.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) { hr_ = CoInitializeEx(nullptr, model); }
    ~ComApartment() { if (SUCCEEDED(hr_)) CoUninitialize(); }
    HRESULT Result() const { return hr_; }
private:
    HRESULT hr_;
};
