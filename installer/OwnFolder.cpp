#include "installer/OwnFolder.h"

#include <windows.h>

#include "settings/ModulePath.h"

std::wstring OwnFolder() {
    std::wstring path;
    if (!ModulePath(nullptr, path)) return std::wstring();
    std::wstring longPath(path.size() + MAX_PATH, L'\0');
    const DWORD longLength = GetLongPathNameW(path.c_str(), &longPath[0], static_cast<DWORD>(longPath.size()));
    if (longLength > 0 && longLength < longPath.size()) path.assign(longPath.c_str(), longLength);
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}
