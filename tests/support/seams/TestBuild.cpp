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
// 3. QUENNEL_TEST_WORKER_MEMORY (MiB), read in the worker mode only: the
//    job's memory cap per worker, enforced as Windows enforces it (Wine
//    enforces none and reports none): every allocation of the program's C
//    runtime (ours, libstdc++'s and the codecs') beyond the cap fails, and
//    the job reports the cap as its process memory limit.
// 4. QUENNEL_TEST_WHOLE_PICTURES=1: every picture takes the whole-picture
//    path, none the streamed one, so that tests can compare the two.
// 5. QUENNEL_TEST_NO_FILE_IDS (any value): a volume that gives no file IDs,
//    as WebDAV, some NAS and FUSE-style drives do: every file's 64-bit
//    index and 128-bit ID read as 0.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "converter/pipeline/Streaming.h"
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
void Patch(const char* name, Function replacement, const char* dll = "KERNEL32.dll") {
    // Kept for the life of the process: never restored.
    auto* patch = new ImportPatch(GetModuleHandleW(nullptr), dll, name, reinterpret_cast<void*>(replacement));
    if (patch->Applied()) g_original<Function> = reinterpret_cast<Function>(patch->Original());
}

// 3. The memory cap. What the C runtime holds is counted by its own block
// sizes (_msize), so a block freed counts out exactly what it counted in.
uint64_t g_cap = 0;
std::atomic<int64_t> g_held{0};
using MallocType = void*(__cdecl*)(size_t);
using CallocType = void*(__cdecl*)(size_t, size_t);
using ReallocType = void*(__cdecl*)(void*, size_t);
using FreeType = void(__cdecl*)(void*);
using MsizeType = size_t(__cdecl*)(void*);
MsizeType g_msize = nullptr;

bool Take(uint64_t bytes) {
    if (g_held.fetch_add(static_cast<int64_t>(bytes)) + static_cast<int64_t>(bytes) <= static_cast<int64_t>(g_cap))
        return true;
    g_held.fetch_sub(static_cast<int64_t>(bytes));
    return false;
}
void __cdecl CappedFree(void* block) {
    if (block) g_held.fetch_sub(static_cast<int64_t>(g_msize(block)));
    g_original<FreeType>(block);
}
void* __cdecl CappedMalloc(size_t size) {
    if (!Take(size)) return nullptr;
    void* block = g_original<MallocType>(size);
    g_held.fetch_add(block ? static_cast<int64_t>(g_msize(block)) - static_cast<int64_t>(size)
                           : -static_cast<int64_t>(size));
    return block;
}
void* __cdecl CappedCalloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    if (!Take(count * size)) return nullptr;
    void* block = g_original<CallocType>(count, size);
    g_held.fetch_add(block ? static_cast<int64_t>(g_msize(block)) - static_cast<int64_t>(count * size)
                           : -static_cast<int64_t>(count * size));
    return block;
}
void* __cdecl CappedRealloc(void* block, size_t size) {
    const size_t was = block ? g_msize(block) : 0;
    if (size > was && !Take(size - was)) return nullptr;
    void* moved = g_original<ReallocType>(block, size);
    if (size > was) g_held.fetch_sub(static_cast<int64_t>(size - was));
    if (moved || size == 0) {
        g_held.fetch_sub(static_cast<int64_t>(was));
        if (moved) g_held.fetch_add(static_cast<int64_t>(g_msize(moved)));
    }
    return moved;
}

using QueryJobType = BOOL(WINAPI*)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD, LPDWORD);
BOOL WINAPI CappedQueryJob(HANDLE job, JOBOBJECTINFOCLASS kind, LPVOID info, DWORD size, LPDWORD returned) {
    const BOOL ok = g_original<QueryJobType>(job, kind, info, size, returned);
    if (kind == JobObjectExtendedLimitInformation && info && size >= sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION)) {
        auto* limits = static_cast<JOBOBJECT_EXTENDED_LIMIT_INFORMATION*>(info);
        if (!ok) *limits = {};
        limits->BasicLimitInformation.LimitFlags |= JOB_OBJECT_LIMIT_PROCESS_MEMORY;
        limits->ProcessMemoryLimit = static_cast<SIZE_T>(g_cap);
        return TRUE;
    }
    return ok;
}

void CapMemory() {
    wchar_t value[32];
    const DWORD length = GetEnvironmentVariableW(L"QUENNEL_TEST_WORKER_MEMORY", value, 32);
    if (length == 0 || length >= 32) return;
    g_cap = std::wcstoull(value, nullptr, 10) << 20;
    g_msize = reinterpret_cast<MsizeType>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "_msize")));
    if (g_cap == 0 || !g_msize) return;
    Patch("QueryInformationJobObject", &CappedQueryJob);
    Patch("malloc", &CappedMalloc, "msvcrt.dll");
    Patch("calloc", &CappedCalloc, "msvcrt.dll");
    Patch("realloc", &CappedRealloc, "msvcrt.dll");
    Patch("free", &CappedFree, "msvcrt.dll");
}

struct Install {
    Install() {
        g_worker = std::wcsstr(GetCommandLineW(), L"--quennel-worker") != nullptr;
        if (g_worker) ReadFault();
        wchar_t whole[8];
        if (GetEnvironmentVariableW(L"QUENNEL_TEST_WHOLE_PICTURES", whole, 8) == 1 && whole[0] == L'1')
            Streaming::Enable(false);
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
        if (g_worker) CapMemory();
        if (GetEnvironmentVariableW(L"QUENNEL_TEST_NO_FILE_IDS", nullptr, 0) != 0) {
            Patch("GetFileInformationByHandle", &NoIdGetFileInformationByHandle);
            Patch("GetFileInformationByHandleEx", &NoIdGetFileInformationByHandleEx);
        }
    }
} g_install;

}  // namespace
