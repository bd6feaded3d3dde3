#include "installer/OwnFolder.h"

#include <windows.h>

std::wstring OwnFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        if (path.size() >= 32768) return std::wstring();
        path.resize(path.size() * 2);
    }
    std::wstring longPath(path.size() + MAX_PATH, L'\0');
    const DWORD longLength = GetLongPathNameW(path.c_str(), &longPath[0], static_cast<DWORD>(longPath.size()));
    if (longLength > 0 && longLength < longPath.size()) path.assign(longPath.c_str(), longLength);
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}
