// The seams of the test build of transform.exe (bin/testbuild/transform.exe),
// which the converter's tests run instead of the shipped program. Linked
// into that program alone: the shipped one has none of them, and reads no
// test variable. All act on the program's own imports from KERNEL32, patched
// before main runs, so the conversion code knows nothing of them.
//
// 1. A file system that keeps MAX_PATH as stock Windows does (Wine does
//    not): a plain path of 260 characters or more (248 for a new folder)
//    fails with ERROR_PATH_NOT_FOUND. Only the "\\?\" form passes. An open
//    that forgets the long form fails a test here as it fails a user there.
// 2. QUENNEL_TEST_WORKER_FAULT, read in the worker mode only: a worker
//    crashes or hangs when it opens a picture of a given file name, as
//    "crash=<name>;hang=<name>;crash-once=<name>". crash-once crashes the
//    first worker that opens the picture and leaves "<name>.crashed" beside
//    it as the proof; later workers read the picture as usual.
// 3. QUENNEL_TEST_NO_FILE_IDS (any value): a volume that gives no file IDs,
//    as WebDAV, some NAS and FUSE-style drives do: every file's 64-bit
//    index and 128-bit ID read as 0.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "support/ImportPatch.h"

namespace {

bool IsLongForm(const wchar_t* path) {
    return path && (std::wcsncmp(path, L"\\\\?\\", 4) == 0 || std::wcsncmp(path, L"\\\\.\\", 4) == 0);
}

// What stock Windows refuses without the long form.
bool BeyondLimit(const wchar_t* path, size_t limit) {
    return path && !IsLongForm(path) && std::wcslen(path) >= limit;
}

struct Fault {
    std::wstring crash, hang, crashOnce;
};

Fault g_fault;
bool g_worker = false;

void ReadFault() {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(L"QUENNEL_TEST_WORKER_FAULT", value, 1024);
    if (length == 0 || length >= 1024) return;
    const std::wstring text(value, length);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring item = text.substr(start, end - start);
        const size_t equals = item.find(L'=');
        if (equals != std::wstring::npos) {
            const std::wstring key = item.substr(0, equals), name = item.substr(equals + 1);
            if (key == L"crash") g_fault.crash = name;
            if (key == L"hang") g_fault.hang = name;
            if (key == L"crash-once") g_fault.crashOnce = name;
        }
        start = end + 1;
    }
}

using CreateFileWType = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
CreateFileWType g_createFile = nullptr;

void Strike(const wchar_t* path) {
    if (!g_worker || !path) return;
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    const std::wstring name = slash ? slash + 1 : path;
    if (!g_fault.crash.empty() && name == g_fault.crash) *static_cast<volatile int*>(nullptr) = 0;
    if (!g_fault.hang.empty() && name == g_fault.hang)
        for (;;) Sleep(INFINITE);
    if (!g_fault.crashOnce.empty() && name == g_fault.crashOnce) {
        const HANDLE proof = g_createFile((std::wstring(path) + L".crashed").c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, 0, nullptr);
        if (proof != INVALID_HANDLE_VALUE) {
            CloseHandle(proof);
            *static_cast<volatile int*>(nullptr) = 0;
        }
    }
}

HANDLE WINAPI CheckedCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (BeyondLimit(path, MAX_PATH)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition == OPEN_EXISTING && (access & GENERIC_READ)) Strike(path);
    return g_createFile(path, access, share, security, disposition, flags, templateFile);
}

// The other calls that take a path: each refuses beyond the limit and
// otherwise hands over to the original.
template <class Function>
Function g_original = nullptr;

using GetFileAttributesWType = DWORD(WINAPI*)(LPCWSTR);
DWORD WINAPI CheckedGetFileAttributesW(LPCWSTR path) {
    if (BeyondLimit(path, MAX_PATH)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return g_original<GetFileAttributesWType>(path);
}

using GetFileAttributesExWType = BOOL(WINAPI*)(LPCWSTR, GET_FILEEX_INFO_LEVELS, LPVOID);
BOOL WINAPI CheckedGetFileAttributesExW(LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data) {
    if (BeyondLimit(path, MAX_PATH)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return g_original<GetFileAttributesExWType>(path, level, data);
}

using FindFirstFileExWType = HANDLE(WINAPI*)(LPCWSTR, FINDEX_INFO_LEVELS, LPVOID, FINDEX_SEARCH_OPS, LPVOID, DWORD);
HANDLE WINAPI CheckedFindFirstFileExW(LPCWSTR path, FINDEX_INFO_LEVELS level, LPVOID data, FINDEX_SEARCH_OPS search,
                                      LPVOID filter, DWORD flags) {
    if (BeyondLimit(path, MAX_PATH)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return g_original<FindFirstFileExWType>(path, level, data, search, filter, flags);
}

using CreateDirectoryWType = BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES);
BOOL WINAPI CheckedCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    if (BeyondLimit(path, MAX_PATH - 12)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return g_original<CreateDirectoryWType>(path, security);
}

using DeleteFileWType = BOOL(WINAPI*)(LPCWSTR);
BOOL WINAPI CheckedDeleteFileW(LPCWSTR path) {
    if (BeyondLimit(path, MAX_PATH)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return g_original<DeleteFileWType>(path);
}

using MoveFileExWType = BOOL(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
BOOL WINAPI CheckedMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (BeyondLimit(from, MAX_PATH) || BeyondLimit(to, MAX_PATH)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    return g_original<MoveFileExWType>(from, to, flags);
}

using GetLongPathNameWType = DWORD(WINAPI*)(LPCWSTR, LPWSTR, DWORD);
DWORD WINAPI CheckedGetLongPathNameW(LPCWSTR path, LPWSTR out, DWORD size) {
    if (BeyondLimit(path, MAX_PATH)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    return g_original<GetLongPathNameWType>(path, out, size);
}

using GetFileInformationByHandleType = BOOL(WINAPI*)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
BOOL WINAPI NoIdGetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    const BOOL ok = g_original<GetFileInformationByHandleType>(file, info);
    if (ok && info) info->nFileIndexHigh = info->nFileIndexLow = 0;
    return ok;
}

using GetFileInformationByHandleExType = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);
BOOL WINAPI NoIdGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID data, DWORD size) {
    const BOOL ok = g_original<GetFileInformationByHandleExType>(file, kind, data, size);
    constexpr int FileIdInfo = 18;  // FILE_ID_INFO: the volume's serial (8 bytes), then the 16-byte ID
    if (ok && static_cast<int>(kind) == FileIdInfo && data && size >= 24)
        std::memset(static_cast<BYTE*>(data) + 8, 0, 16);
    return ok;
}

template <class Function>
void Patch(const char* name, Function replacement) {
    // Kept for the life of the process: never restored.
    auto* patch = new ImportPatch(GetModuleHandleW(nullptr), "KERNEL32.dll", name, reinterpret_cast<void*>(replacement));
    if (patch->Applied()) g_original<Function> = reinterpret_cast<Function>(patch->Original());
}

struct Install {
    Install() {
        g_worker = std::wcsstr(GetCommandLineW(), L"--quennel-worker") != nullptr;
        if (g_worker) ReadFault();
        auto* create = new ImportPatch(GetModuleHandleW(nullptr), "KERNEL32.dll", "CreateFileW",
                                       reinterpret_cast<void*>(&CheckedCreateFileW));
        g_createFile = create->Applied() ? reinterpret_cast<CreateFileWType>(create->Original()) : &CreateFileW;
        Patch("GetFileAttributesW", &CheckedGetFileAttributesW);
        Patch("GetFileAttributesExW", &CheckedGetFileAttributesExW);
        Patch("FindFirstFileExW", &CheckedFindFirstFileExW);
        Patch("CreateDirectoryW", &CheckedCreateDirectoryW);
        Patch("DeleteFileW", &CheckedDeleteFileW);
        Patch("MoveFileExW", &CheckedMoveFileExW);
        Patch("GetLongPathNameW", &CheckedGetLongPathNameW);
        if (GetEnvironmentVariableW(L"QUENNEL_TEST_NO_FILE_IDS", nullptr, 0) != 0) {
            Patch("GetFileInformationByHandle", &NoIdGetFileInformationByHandle);
            Patch("GetFileInformationByHandleEx", &NoIdGetFileInformationByHandleEx);
        }
    }
} g_install;

}  // namespace
