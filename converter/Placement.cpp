#include "converter/Placement.h"

#include <algorithm>
#include <atomic>

#include "converter/Naming.h"

namespace Placement {

namespace {

std::atomic<unsigned> g_temporaryCounter{0};

// A name no other run, worker or user file has: the process and a counter.
std::wstring TemporaryPath(const std::wstring& folder) {
    return folder + L"\\~quennel-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++g_temporaryCounter) + L".tmp";
}

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT WriteTemporary(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    // Hidden while incomplete, so Explorer does not show a half-written file.
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastError();
    HRESULT hr = S_OK;
    size_t done = 0;
    while (done < bytes.size() && SUCCEEDED(hr)) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr))
            hr = LastError();
        else if (written == 0)
            hr = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        done += written;
    }
    if (!CloseHandle(file) && SUCCEEDED(hr)) hr = LastError();
    return hr;
}

bool NameTaken(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

}  // namespace

HRESULT Place(const Target& target, const std::vector<uint8_t>& bytes, std::wstring& placed) {
    const std::wstring temporary = TemporaryPath(target.folder);
    HRESULT hr = WriteTemporary(temporary, bytes);
    if (SUCCEEDED(hr)) {
        hr = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
        for (unsigned attempt = 1; attempt <= MaxAttempts; ++attempt) {
            const std::wstring path =
                target.folder + L"\\" + Naming::Candidate(target.stem, target.tag, target.extension, attempt);
            // No MOVEFILE_REPLACE_EXISTING: an existing name fails the move.
            if (MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                placed = path;
                return S_OK;
            }
            const DWORD error = GetLastError();
            if (!NameTaken(error)) {
                hr = HRESULT_FROM_WIN32(error);
                break;
            }
        }
    }
    DeleteFileW(temporary.c_str());
    return hr;
}

}  // namespace Placement
