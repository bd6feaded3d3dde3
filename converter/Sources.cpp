#include "converter/Sources.h"

#include <windows.h>

#include <algorithm>
#include <set>

#include "converter/Texts.h"
#include "settings/AnsiText.h"

namespace Sources {

namespace {

std::wstring FullLongPath(const std::wstring& path) {
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    // A short (8.3) name in the list names the result after the long one.
    needed = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (needed == 0) return full;
    std::wstring longPath(needed, L'\0');
    length = GetLongPathNameW(full.c_str(), &longPath[0], needed);
    if (length == 0 || length >= needed) return full;
    longPath.resize(length);
    return longPath;
}

// Folders and names compare without case, as the file system does.
std::wstring Folded(const std::wstring& path) {
    std::wstring folded = path;
    if (!folded.empty()) CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}

class Collector {
public:
    explicit Collector(const std::vector<std::wstring>& pictureExtensions) : pictureExtensions_(pictureExtensions) {}

    Collected result;

    void AddListed(const std::wstring& listed) {
        const std::wstring path = FullLongPath(listed);
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            result.problems.push_back({listed, Texts::ReasonForError(GetLastError())});
            return;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            Walk(path);
        else
            AddFile(path);
    }

private:
    const std::vector<std::wstring>& pictureExtensions_;
    std::set<std::wstring> seen_;

    bool HasPictureExtension(const std::wstring& name) const {
        const size_t dot = name.find_last_of(L'.');
        if (dot == std::wstring::npos) return false;
        std::wstring extension = name.substr(dot);
        CharLowerBuffW(&extension[0], static_cast<DWORD>(extension.size()));
        return std::find(pictureExtensions_.begin(), pictureExtensions_.end(), extension) != pictureExtensions_.end();
    }

    void AddFile(const std::wstring& path) {
        if (!seen_.insert(Folded(path)).second) return;
        const size_t slash = path.find_last_of(L'\\');
        if (slash == std::wstring::npos) return;
        result.sources.push_back({path, path.substr(0, slash), path.substr(slash + 1)});
    }

    void Walk(std::wstring folder) {
        while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
        if (!seen_.insert(Folded(folder) + L"\\").second) return;
        std::vector<std::wstring> files, folders;
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND) result.problems.push_back({folder, Texts::ReasonForError(error)});
            return;
        }
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) folders.push_back(name);
            } else if (HasPictureExtension(name)) {
                files.push_back(name);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
        // The order Explorer shows: by name, without case.
        const auto byName = [](const std::wstring& a, const std::wstring& b) {
            return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_LESS_THAN;
        };
        std::sort(files.begin(), files.end(), byName);
        std::sort(folders.begin(), folders.end(), byName);
        for (const std::wstring& name : files) AddFile(folder + L"\\" + name);
        for (const std::wstring& name : folders) Walk(folder + L"\\" + name);
    }
};

}  // namespace

Collected Collect(const std::vector<std::string>& lines, const std::vector<std::wstring>& pictureExtensions) {
    Collector collector(pictureExtensions);
    for (const std::string& line : lines) collector.AddListed(AnsiText::Widen(line));
    return std::move(collector.result);
}

}  // namespace Sources
