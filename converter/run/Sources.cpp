#include "converter/run/Sources.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>

#include "converter/base/LongPaths.h"
#include "converter/base/Texts.h"

namespace Sources {

namespace {

// "\\?\C:\a" gives "C:\a", "\\?\UNC\server\share" gives "\\server\share".
std::wstring Plain(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
    return path;
}

std::wstring FullLongPath(const std::wstring& path) {
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    full = Plain(full);
    // A short (8.3) name in the list names the result after the long one.
    const std::wstring api = LongPaths::ForApi(full);
    needed = GetLongPathNameW(api.c_str(), nullptr, 0);
    if (needed == 0) return full;
    std::wstring longPath(needed, L'\0');
    length = GetLongPathNameW(api.c_str(), &longPath[0], needed);
    if (length == 0 || length >= needed) return full;
    longPath.resize(length);
    return Plain(longPath);
}

// Folders and names compare without case, as the file system does.
std::wstring Folded(const std::wstring& path) {
    std::wstring folded = path;
    if (!folded.empty()) CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}

// FILE_ID_INFO of Windows 8 and later, which the Windows 7 headers lack.
struct FileId128 {
    ULONGLONG volumeSerialNumber;
    BYTE identifier[16];
};
constexpr FILE_INFO_BY_HANDLE_CLASS FileIdInfoClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);  // FileIdInfo

std::wstring Hex(const BYTE* bytes, size_t count) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// An ID the volume does not really give: network redirectors (WebDAV), some
// NAS and FUSE-style drives report 0 for every file, some report all bits
// set. Taken as an identity, it would make every file one file.
bool IsUnknownId(const BYTE* bytes, size_t count) {
    bool allZero = true, allOnes = true;
    for (size_t i = 0; i < count; ++i) {
        allZero = allZero && bytes[i] == 0;
        allOnes = allOnes && bytes[i] == 0xFF;
    }
    return allZero || allOnes;
}

// What the file system knows a file or folder by, whatever path reached it:
// a junction, a subst drive, a share, another spelling. The 128-bit file ID
// where the volume gives one (ReFS does not keep the 64-bit index unique),
// else the volume's serial number and the 64-bit index; where the volume
// gives neither (or only an ID that names nothing), the full long path
// without case. Two paths to one file on such a volume then count twice,
// which costs a second result; one identity for all would lose pictures.
std::wstring Identity(const std::wstring& path) {
    const std::wstring byPath = L"path:" + Folded(path);
    const HANDLE handle = CreateFileW(LongPaths::ForApi(path).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return byPath;
    FileId128 id = {};
    BY_HANDLE_FILE_INFORMATION info = {};
    std::wstring identity;
    if (GetFileInformationByHandleEx(handle, FileIdInfoClass, &id, sizeof id) &&
        !IsUnknownId(id.identifier, sizeof id.identifier))
        identity = L"id128:" + std::to_wstring(id.volumeSerialNumber) + L":" + Hex(id.identifier, 16);
    if (identity.empty() && GetFileInformationByHandle(handle, &info)) {
        BYTE index[8];
        const uint64_t value = uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
        std::memcpy(index, &value, sizeof index);
        if (!IsUnknownId(index, sizeof index))
            identity = L"id:" + std::to_wstring(info.dwVolumeSerialNumber) + L":" + std::to_wstring(value);
    }
    CloseHandle(handle);
    return identity.empty() ? byPath : identity;
}

// Junctions and symbolic links name another place; a cloud placeholder
// (OneDrive) is a reparse point too, but stands for itself.
bool IsLink(DWORD attributes, DWORD reparseTag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(reparseTag);
}

class Collector {
public:
    Collected result;

    Collector(const std::function<std::vector<std::wstring>()>& pictureExtensions, const std::atomic<bool>* cancel)
        : askExtensions_(pictureExtensions), cancel_(cancel) {}

    void AddListed(const std::wstring& listed) {
        const std::wstring path = FullLongPath(listed);
        const DWORD attributes = GetFileAttributesW(LongPaths::ForApi(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            result.problems.push_back({listed, Texts::ReasonForError(GetLastError())});
            return;
        }
        // A listed link was chosen by the user: it is followed.
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            AddFile(path);
            return;
        }
        const size_t before = result.sources.size();
        if (Walk(path) && result.sources.size() == before && !Cancelled())
            result.problems.push_back({path, L"Der Ordner enth\u00e4lt keine Grafikdateien."});
    }

    bool Cancelled() const { return cancel_ && cancel_->load(); }

private:
    const std::function<std::vector<std::wstring>()>& askExtensions_;
    std::vector<std::wstring> pictureExtensions_;
    bool extensionsKnown_ = false;
    const std::atomic<bool>* cancel_;
    std::set<std::wstring> seen_;

    bool HasPictureExtension(const std::wstring& name) const {
        const size_t dot = name.find_last_of(L'.');
        if (dot == std::wstring::npos) return false;
        std::wstring extension = name.substr(dot);
        CharLowerBuffW(&extension[0], static_cast<DWORD>(extension.size()));
        return std::find(pictureExtensions_.begin(), pictureExtensions_.end(), extension) != pictureExtensions_.end();
    }

    void AddFile(const std::wstring& path) {
        if (!seen_.insert(Identity(path)).second) return;
        const size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos) return;
        result.sources.push_back({path, path.substr(0, slash), path.substr(slash + 1)});
    }

    // False when the folder was walked before (by this or another path).
    // The tree is walked with a stack of its own, not by recursion: "\\?\"
    // paths allow thousands of levels, and a frame each would overflow the
    // collecting thread's stack and end the run without its summary.
    bool Walk(std::wstring top) {
        while (!top.empty() && top.back() == L'\\') top.pop_back();
        if (Cancelled() || !seen_.insert(Identity(top + L"\\")).second) return false;
        if (!extensionsKnown_) {
            pictureExtensions_ = askExtensions_();
            extensionsKnown_ = true;
        }
        std::vector<std::wstring> pending{top};
        std::vector<std::wstring> folders;
        bool first = true;
        while (!pending.empty() && !Cancelled()) {
            const std::wstring folder = std::move(pending.back());
            pending.pop_back();
            // A folder met before by another path (a junction listed, a
            // share) is walked once; the check comes where recursion made it,
            // as the folder is entered, so the order stays Explorer's.
            if (!first && !seen_.insert(Identity(folder + L"\\")).second) continue;
            first = false;
            folders.clear();
            Visit(folder, folders);
            // The first subfolder by name is walked next, the others after it.
            for (auto it = folders.rbegin(); it != folders.rend(); ++it) pending.push_back(folder + L"\\" + *it);
        }
        return true;
    }

    // Takes the folder's pictures, in name order, and hands back its
    // subfolders (names, in name order) to be walked.
    void Visit(const std::wstring& folder, std::vector<std::wstring>& folders) {
        std::vector<std::wstring> files;
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileExW(LongPaths::ForApi(folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND) result.problems.push_back({folder, Texts::ReasonForError(error)});
            return;
        }
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const bool folderEntry = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (IsLink(found.dwFileAttributes, found.dwReserved0)) {
                // Not entered: a link may loop, or lead out of what the user chose.
                if (folderEntry || HasPictureExtension(name))
                    result.problems.push_back(
                        {folder + L"\\" + name,
                         L"Verkn\u00fcpfung (Abzweigung oder symbolischer Link): nicht durchsucht."});
            } else if (folderEntry) {
                folders.push_back(name);
            } else if (HasPictureExtension(name)) {
                files.push_back(name);
            }
        } while (!Cancelled() && FindNextFileW(search, &found));
        FindClose(search);
        // The order Explorer shows: by name, without case.
        const auto byName = [](const std::wstring& a, const std::wstring& b) {
            return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
        };
        std::sort(files.begin(), files.end(), byName);
        std::sort(folders.begin(), folders.end(), byName);
        for (const std::wstring& name : files) AddFile(folder + L"\\" + name);
    }
};

}  // namespace

Collected Collect(const std::vector<std::wstring>& paths,
                  const std::function<std::vector<std::wstring>()>& pictureExtensions,
                  const std::atomic<bool>* cancel) {
    Collector collector(pictureExtensions, cancel);
    for (const std::wstring& path : paths) {
        if (collector.Cancelled()) break;
        collector.AddListed(path);
    }
    return std::move(collector.result);
}

}  // namespace Sources
