// The full path of a loaded module, however long: what the extension's
// Windows 11 command, the converter and the setup programs each need to find
// themselves or the programs beside them.
#pragma once

#include <windows.h>

#include <string>

// The path of `module` (nullptr: the program itself) into `path`. False,
// with the system's error as the last error, when it cannot be had; a path
// is never cut short: GetModuleFileNameW fills a buffer that is too small
// and says so only by filling it, so the buffer grows until the path fits,
// up to the longest path the system has.
inline bool ModulePath(HMODULE module, std::wstring& path) {
    path.assign(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) {
            path.clear();
            return false;
        }
        if (length < path.size()) {
            path.resize(length);
            return true;
        }
        if (path.size() >= 32768) {
            path.clear();
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        path.resize(path.size() * 2);
    }
}
