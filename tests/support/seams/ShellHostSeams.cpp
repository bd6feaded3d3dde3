#include "support/seams/ShellHostSeams.h"

#include "support/ImportPatch.h"

namespace ShellHostSeams {

namespace {

DWORD WINAPI LongNameOnly(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    if (!longPath) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const DWORD length = static_cast<DWORD>(lstrlenW(longPath));
    if (GetFileAttributesW(longPath) == INVALID_FILE_ATTRIBUTES) return 0;  // its error stands
    if (!shortPath || size <= length) return length + 1;
    CopyMemory(shortPath, longPath, (length + 1) * sizeof(WCHAR));
    return length;
}

}  // namespace

void Apply(HMODULE module) {
    if (!module || GetEnvironmentVariableW(L"QUENNEL_TEST_NO_SHORT_NAMES", nullptr, 0) == 0) return;
    // Kept for the life of the process: a module is patched once, when loaded.
    new ImportPatch(module, "KERNEL32.dll", "GetShortPathNameW", reinterpret_cast<void*>(&LongNameOnly));
}

}  // namespace ShellHostSeams
