#include "converter/pipeline/Placement.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "converter/base/LongPaths.h"
#include "converter/pipeline/Naming.h"

namespace Placement {

namespace {

std::atomic<unsigned> g_temporaryCounter{0};
// The most temporary names tried in one folder: stale ones of earlier runs
// and the other workers' live ones.
constexpr unsigned MaxTemporaryNames = 10000;
// Refusals tried past before a folder counts as not writable: more than
// workers could hold names at once.
constexpr unsigned MaxDeniedNames = 256;
// The longest name one folder entry may have (NTFS, FAT32, exFAT alike).
constexpr size_t MaxNameLength = 255;

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

bool NameTaken(DWORD error) {
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

bool MarkForDeletion(HANDLE file, bool deleteIt) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = deleteIt ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// A fresh hidden file "~quennel-<n>.tmp" in the folder, marked to go when
// its handle closes: however this process ends (a crash, a kill, a failed
// move), the file goes with it. A name that exists, be it another worker's
// or one left by an earlier run, is passed over and never touched.
HRESULT CreateTemporary(const std::wstring& folder, HANDLE& file, std::wstring& path) {
    unsigned denied = 0;
    for (unsigned tries = 0; tries < MaxTemporaryNames; ++tries) {
        path = folder + L"\\~quennel-" + std::to_wstring(++g_temporaryCounter) + L".tmp";
        file = CreateFileW(LongPaths::ForApi(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (MarkForDeletion(file, true)) return S_OK;
            // Ours, just made: without the mark it is deleted by its name.
            const HRESULT hr = LastError();
            CloseHandle(file);
            DeleteFileW(LongPaths::ForApi(path).c_str());
            return hr;
        }
        const DWORD error = GetLastError();
        // Windows answers a name another worker's file holds while marked
        // for deletion with "access denied"; a folder that refuses writing
        // answers every name so.
        if (error == ERROR_ACCESS_DENIED && ++denied < MaxDeniedNames) continue;
        if (!NameTaken(error)) return HRESULT_FROM_WIN32(error);
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

// Renames the open file; an existing name fails the rename instead of being replaced.
bool RenameTo(HANDLE file, const std::wstring& path) {
    const std::wstring target = LongPaths::ForApi(path);
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    std::vector<uint8_t> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::copy(target.begin(), target.end(), info->FileName);
    info->FileName[target.size()] = L'\0';
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

// The result keeps what the file system gave it (the archive bit that
// backups go by, compression or encryption inherited from its folder);
// only the two marks of the temporary file go.
void ClearTemporaryMarks(HANDLE file) {
    FILE_BASIC_INFO basic = {};
    if (!GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) return;
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    // Zero times are left as they are.
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
}

}  // namespace

HRESULT Pending::Begin(const std::wstring& folder) {
    Abandon();
    const HRESULT hr = CreateTemporary(folder, file_, temporary_);
    if (FAILED(hr)) file_ = INVALID_HANDLE_VALUE;
    return hr;
}

HRESULT Pending::Write(const uint8_t* data, size_t size) {
    if (file_ == INVALID_HANDLE_VALUE) return E_UNEXPECTED;
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 24));
        DWORD written = 0;
        if (!WriteFile(file_, data + done, chunk, &written, nullptr)) return LastError();
        if (written == 0) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        done += written;
    }
    return S_OK;
}

HRESULT Pending::WriteAt(uint64_t at, const uint8_t* data, size_t size) {
    LARGE_INTEGER to = {};
    to.QuadPart = static_cast<LONGLONG>(at);
    if (file_ == INVALID_HANDLE_VALUE || at > INT64_MAX) return E_UNEXPECTED;
    if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) return LastError();
    return Write(data, size);
}

HRESULT Pending::ReadAt(uint64_t at, uint8_t* into, size_t size, size_t& got) {
    got = 0;
    LARGE_INTEGER to = {};
    to.QuadPart = static_cast<LONGLONG>(at);
    if (file_ == INVALID_HANDLE_VALUE || at > INT64_MAX) return E_UNEXPECTED;
    if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN)) return LastError();
    while (got < size) {
        DWORD read = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - got, 1u << 24));
        if (!ReadFile(file_, into + got, chunk, &read, nullptr)) return LastError();
        if (read == 0) break;
        got += read;
    }
    return S_OK;
}

HRESULT Pending::Size(uint64_t& size) {
    LARGE_INTEGER length = {};
    if (file_ == INVALID_HANDLE_VALUE) return E_UNEXPECTED;
    if (!GetFileSizeEx(file_, &length)) return LastError();
    size = static_cast<uint64_t>(length.QuadPart);
    return S_OK;
}

HRESULT Pending::Truncate(uint64_t size) {
    LARGE_INTEGER to = {};
    to.QuadPart = static_cast<LONGLONG>(size);
    if (file_ == INVALID_HANDLE_VALUE || size > INT64_MAX) return E_UNEXPECTED;
    if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) return LastError();
    return S_OK;
}

void Pending::Abandon() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);  // the mark deletes it
    file_ = INVALID_HANDLE_VALUE;
}

HRESULT Pending::Finish(const Target& target, std::wstring& placed) {
    if (file_ == INVALID_HANDLE_VALUE) return E_UNEXPECTED;
    // On the disk before the name appears: a power cut must not leave a
    // result under its final name with nothing in it.
    HRESULT hr = FlushFileBuffers(file_) ? HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) : LastError();
    for (unsigned attempt = 1; hr == HRESULT_FROM_WIN32(ERROR_FILE_EXISTS) && attempt <= MaxAttempts; ++attempt) {
        const std::wstring name = Naming::Candidate(target.stem, target.tag, target.extension, attempt);
        const std::wstring path = target.folder + L"\\" + name;
        // A file marked for deletion cannot be renamed: the mark comes off
        // for the move alone and goes back on when the move fails.
        if (!MarkForDeletion(file_, false)) {
            hr = LastError();
            break;
        }
        if (RenameTo(file_, path)) {
            ClearTemporaryMarks(file_);
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
            placed = path;
            return S_OK;
        }
        const DWORD error = GetLastError();
        if (!MarkForDeletion(file_, true)) {
            // Still under its temporary name, which is ours alone.
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
            DeleteFileW(LongPaths::ForApi(temporary_).c_str());
            return HRESULT_FROM_WIN32(error);
        }
        if (NameTaken(error)) continue;
        hr = HRESULT_FROM_WIN32(name.size() > MaxNameLength ? ERROR_FILENAME_EXCED_RANGE : error);
    }
    Abandon();
    return hr;
}

HRESULT Place(const Target& target, const std::vector<uint8_t>& bytes, std::wstring& placed) {
    Pending pending;
    HRESULT hr = pending.Begin(target.folder);
    if (SUCCEEDED(hr)) hr = pending.Write(bytes.data(), bytes.size());
    if (SUCCEEDED(hr)) hr = pending.Finish(target, placed);
    return hr;
}

}  // namespace Placement
