#include "Handlers.h"

#include <shellapi.h>

#include "Text.h"

namespace {

bool ParseClsid(const std::wstring& text, CLSID& clsid) {
    if (text.size() != 38 || text.front() != L'{' || text.back() != L'}') return false;
    std::wstring copy(text);
    return SUCCEEDED(CLSIDFromString(&copy[0], &clsid));
}

std::wstring DefaultValue(HKEY key) {
    wchar_t data[512] = {};
    DWORD type = 0;
    DWORD size = sizeof data - sizeof(wchar_t);
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::wstring();
    return data;
}

const wchar_t kUserClasses[] = L"Software\\Classes\\";

// Windows merges the user's classes over the machine's into HKCR, and COM
// looks for a class in the user's classes first. Wine 8 does neither: its
// HKCR is the machine's classes alone, and its CoCreateInstance answers
// REGDB_E_CLASSNOTREG for a class registered per user only. The host
// therefore reads the user's classes itself, in Windows' order, which gives
// the same result on both.
//
// The user's in-process server of the class for this process's bitness:
// a 32-bit process on 64-bit Windows finds the user's classes in the 32-bit
// view, which Windows keeps below Wow6432Node (Wine redirects nothing there,
// so the key is named explicitly). Empty when the user registered none.
std::wstring UserInprocServer(const std::wstring& clsidText) {
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const std::wstring path = std::wstring(kUserClasses) + (wow64 ? L"Wow6432Node\\" : L"") + L"CLSID\\" +
                              clsidText + L"\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return std::wstring();
    const std::wstring server = DefaultValue(key);
    RegCloseKey(key);
    wchar_t expanded[MAX_PATH * 2] = {};
    const DWORD length = ExpandEnvironmentStringsW(server.c_str(), expanded, MAX_PATH * 2);
    return length > 0 && length <= MAX_PATH * 2 ? std::wstring(expanded) : server;
}

// The handlers below one classes root, those named in `seen` left out.
void AddHandlers(HKEY root, const std::wstring& path, const std::wstring& classKey, bool perUser,
                 std::vector<RegisteredHandler>& found, std::vector<std::wstring>& seen,
                 std::vector<std::wstring>& skipped) {
    HKEY handlers = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &handlers) != ERROR_SUCCESS) return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD length = 256;
        LONG status = RegEnumKeyExW(handlers, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS) continue;
        bool duplicate = false;
        for (const std::wstring& other : seen) duplicate |= lstrcmpiW(other.c_str(), name) == 0;
        if (duplicate) continue;
        seen.push_back(name);
        RegisteredHandler handler;
        handler.classKey = classKey;
        handler.keyName = name;
        handler.perUser = perUser;
        HKEY key = nullptr;
        std::wstring value;
        if (RegOpenKeyExW(handlers, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            value = DefaultValue(key);
            RegCloseKey(key);
        }
        if (ParseClsid(value, handler.clsid)) {
            handler.clsidText = value;
        } else if (ParseClsid(handler.keyName, handler.clsid)) {
            handler.clsidText = handler.keyName;
        } else {
            skipped.push_back(handler.keyName);
            continue;
        }
        found.push_back(handler);
    }
    RegCloseKey(handlers);
}

// DllGetClassObject and CreateInstance on a server the host loaded itself.
HRESULT CreateFromServer(HMODULE module, const CLSID& clsid, IShellExtInit** object) {
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto get = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!get) return CO_E_ERRORINDLL;
    IClassFactory* factory = nullptr;
    HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(object));
    factory->Release();
    return hr;
}

}  // namespace

std::wstring HandlersKeyPath(const std::wstring& classKey) {
    return classKey + L"\\shellex\\ContextMenuHandlers";
}

std::vector<RegisteredHandler> FindHandlers(const std::wstring& classKey, std::vector<std::wstring>& skipped) {
    std::vector<RegisteredHandler> found;
    std::vector<std::wstring> seen;
    AddHandlers(HKEY_CURRENT_USER, kUserClasses + HandlersKeyPath(classKey), classKey, true, found, seen, skipped);
    AddHandlers(HKEY_CLASSES_ROOT, HandlersKeyPath(classKey), classKey, false, found, seen, skipped);
    return found;
}

HandlerInstance::~HandlerInstance() {
    if (menu_) menu_->Release();
    if (init_) init_->Release();
    if (classKey_) RegCloseKey(classKey_);
    if (module_) FreeLibrary(module_);
}

HRESULT HandlerInstance::Create(const RegisteredHandler& handler, PCIDLIST_ABSOLUTE folder, IDataObject* data,
                                std::string& step) {
    HRESULT hr;
    const std::wstring server = UserInprocServer(handler.clsidText);
    if (!server.empty()) {
        step = "LoadLibrary (the user's class)";
        module_ = LoadLibraryExW(server.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (!module_) return HRESULT_FROM_WIN32(GetLastError());
        step = "DllGetClassObject (the user's class)";
        hr = CreateFromServer(module_, handler.clsid, &init_);
    } else {
        step = "CoCreateInstance";
        hr = CoCreateInstance(handler.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                              reinterpret_cast<void**>(&init_));
    }
    if (FAILED(hr)) return hr;
    // The shell hands over the key of the item's class, where it found the handler.
    RegOpenKeyExW(HKEY_CLASSES_ROOT, handler.classKey.c_str(), 0, KEY_READ, &classKey_);
    step = "IShellExtInit::Initialize";
    hr = initResult_ = init_->Initialize(folder, data, classKey_);
    if (FAILED(hr)) return hr;
    step = "QueryInterface(IContextMenu)";
    return init_->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu_));
}

HRESULT HandlerInstance::AddToMenu(HMENU menu, UINT idCmdFirst, UINT idCmdLast, UINT flags) {
    int before = GetMenuItemCount(menu);
    insertedAt_ = before > 0 ? static_cast<UINT>(before) : 0;
    first_ = idCmdFirst;
    count_ = 0;
    HRESULT hr = menu_->QueryContextMenu(menu, insertedAt_, idCmdFirst, idCmdLast, flags);
    if (SUCCEEDED(hr)) count_ = HRESULT_CODE(hr);
    return hr;
}

HRESULT HandlerInstance::HelpText(UINT offset, std::string& text) const {
    char buffer[MAX_PATH + 1] = {};
    HRESULT hr = menu_->GetCommandString(offset, GCS_HELPTEXTA, nullptr, buffer, MAX_PATH);
    buffer[MAX_PATH] = '\0';
    text = SUCCEEDED(hr) ? buffer : "";
    return hr;
}

HRESULT HandlerInstance::VerbW(UINT offset, std::wstring& verb) const {
    wchar_t buffer[MAX_PATH + 1] = {};
    HRESULT hr = menu_->GetCommandString(offset, GCS_VERBW, nullptr, reinterpret_cast<LPSTR>(buffer), MAX_PATH);
    buffer[MAX_PATH] = L'\0';
    verb = SUCCEEDED(hr) ? buffer : L"";
    return hr;
}

HRESULT HandlerInstance::VerbA(UINT offset, std::string& verb) const {
    char buffer[MAX_PATH + 1] = {};
    HRESULT hr = menu_->GetCommandString(offset, GCS_VERBA, nullptr, buffer, MAX_PATH);
    buffer[MAX_PATH] = '\0';
    verb = SUCCEEDED(hr) ? buffer : "";
    return hr;
}

HRESULT HandlerInstance::Invoke(UINT offset, HWND owner, const std::wstring& directory, POINT at) const {
    std::string directoryA;
    if (!directory.empty()) {
        int size = WideCharToMultiByte(CP_ACP, 0, directory.c_str(), -1, nullptr, 0, nullptr, nullptr);
        directoryA.assign(size > 0 ? size : 0, '\0');
        if (size > 0) WideCharToMultiByte(CP_ACP, 0, directory.c_str(), -1, &directoryA[0], size, nullptr, nullptr);
    }
    CMINVOKECOMMANDINFOEX info = {};
    info.cbSize = sizeof info;
    info.fMask = CMIC_MASK_UNICODE | CMIC_MASK_PTINVOKE;
    if (GetKeyState(VK_CONTROL) < 0) info.fMask |= CMIC_MASK_CONTROL_DOWN;
    if (GetKeyState(VK_SHIFT) < 0) info.fMask |= CMIC_MASK_SHIFT_DOWN;
    info.hwnd = owner;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.lpVerbW = MAKEINTRESOURCEW(offset);
    info.lpDirectory = directoryA.empty() ? nullptr : directoryA.c_str();
    info.lpDirectoryW = directory.empty() ? nullptr : directory.c_str();
    info.nShow = SW_SHOWNORMAL;
    info.ptInvoke = at;
    return menu_->InvokeCommand(reinterpret_cast<LPCMINVOKECOMMANDINFO>(&info));
}
