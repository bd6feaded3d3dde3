#include "converter/base/LongPaths.h"

#include <windows.h>

namespace LongPaths {

std::wstring ForApi(const std::wstring& path) {
    // MAX_PATH - 12 is where CreateDirectoryW already stops (room for an 8.3 name).
    if (path.size() < MAX_PATH - 12) return path;
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

void* OpenToRead(const std::wstring& path, unsigned long flags) {
    return CreateFileW(ForApi(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       flags, nullptr);
}

}  // namespace LongPaths
