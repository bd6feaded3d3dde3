#include "StaticVerb.h"

#include <windows.h>

namespace {

std::wstring StringValue(HKEY key, const wchar_t* subKey, const wchar_t* name) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    // RRF_RT_REG_SZ takes a REG_EXPAND_SZ value too, expanded.
    if (RegGetValueW(key, subKey, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

}  // namespace

bool FindStaticVerb(const std::wstring& path, StaticVerb& verb, std::wstring& problem) {
    const size_t dot = path.find_last_of(L".\\");
    if (dot == std::wstring::npos || path[dot] != L'.') {
        problem = L"\"" + path + L"\" has no extension: Windows 10 offers no kind's verbs for it";
        return false;
    }
    std::wstring extension = path.substr(dot);
    CharLowerBuffW(&extension[0], static_cast<DWORD>(extension.size()));
    const std::wstring shellPath = L"SystemFileAssociations\\" + extension + L"\\shell";
    HKEY shell = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, shellPath.c_str(), 0, KEY_READ, &shell) != ERROR_SUCCESS) {
        problem = L"no verbs are registered under HKCR\\" + shellPath;
        return false;
    }
    bool found = false;
    wchar_t name[256];
    for (DWORD i = 0; !found; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(shell, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::wstring clsid = StringValue(shell, name, L"ExplorerCommandHandler");
        if (clsid.empty()) continue;
        verb.keyPath = shellPath + L"\\" + name;
        verb.clsid = clsid;
        verb.module = StringValue(HKEY_CLASSES_ROOT, (L"CLSID\\" + clsid + L"\\InprocServer32").c_str(), nullptr);
        found = true;
    }
    RegCloseKey(shell);
    if (!found) problem = L"no verb under HKCR\\" + shellPath + L" names an ExplorerCommandHandler";
    return found;
}
