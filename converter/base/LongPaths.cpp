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

}  // namespace LongPaths
