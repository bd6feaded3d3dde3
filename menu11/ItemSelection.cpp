#include "menu11/ItemSelection.h"

#include "untMain/ImageExtensions.h"

namespace ItemSelection {

namespace {

template <typename T>
struct Released {
    T* object = nullptr;
    ~Released() {
        if (object) object->Release();
    }
};

struct TaskText {
    LPWSTR text = nullptr;
    ~TaskText() { CoTaskMemFree(text); }
};

// Kinds the converter reads besides the classic menu's: HEIF and AVIF
// (libheif), JPEG XL (libjxl) and the raw formats of the cameras LibRaw
// decodes. The classic module keeps its own fixed list.
const std::string_view NewerKinds[] = {
    ".heic", ".heif", ".hif", ".avif", ".jxl",
    ".3fr", ".arw", ".bay", ".cap", ".cr2", ".cr3", ".crw", ".dcr", ".dcs", ".dng", ".drf", ".eip",
    ".erf", ".fff", ".gpr", ".iiq", ".k25", ".kdc", ".mdc", ".mef", ".mos", ".mrw", ".nef", ".nrw",
    ".orf", ".pef", ".ptx", ".raf", ".raw", ".rw2", ".rwl", ".sr2", ".srf", ".srw", ".x3f",
};

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// The path without a "\\?\" prefix before a drive letter.
std::wstring_view WithoutLongPrefix(std::wstring_view path) {
    if (path.size() >= 6 && path.substr(0, 4) == L"\\\\?\\" && IsLetter(path[4]) && path[5] == L':')
        return path.substr(4);
    return path;
}

// The form the file system takes for a path of any length.
std::wstring ForApi(std::wstring_view path) {
    if (path.size() < MAX_PATH - 12 || path.substr(0, 4) == L"\\\\?\\") return std::wstring(path);
    if (path.substr(0, 2) == L"\\\\") return L"\\\\?\\UNC\\" + std::wstring(path.substr(2));
    return L"\\\\?\\" + std::wstring(path);
}

bool IsFolder(std::wstring_view path) {
    const DWORD attributes = GetFileAttributesW(ForApi(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Each item's file-system path in turn; items without one are passed over.
class Paths {
public:
    explicit Paths(IShellItemArray* items) : items_(items) {
        if (!items_ || FAILED(items_->GetCount(&count_))) count_ = 0;
    }
    bool Next(std::wstring& path) {
        while (next_ < count_) {
            Released<IShellItem> item;
            if (FAILED(items_->GetItemAt(next_++, &item.object)) || !item.object) continue;
            TaskText text;
            if (FAILED(item.object->GetDisplayName(SIGDN_FILESYSPATH, &text.text)) || !text.text || !*text.text)
                continue;
            path.assign(text.text);
            return true;
        }
        return false;
    }

private:
    IShellItemArray* items_;
    DWORD count_ = 0;
    DWORD next_ = 0;
};

// One drive type a letter: a selection lies in one folder, so one call serves
// thousands of items.
class DriveTypes {
public:
    bool LocalFixed(std::wstring_view path) {
        path = WithoutLongPrefix(path);
        if (path.size() < 3 || !IsLetter(path[0]) || path[1] != L':' || path[2] != L'\\') return false;
        const int letter = (path[0] | 0x20) - L'a';
        if (!known_[letter]) {
            const wchar_t root[] = {path[0], L':', L'\\', 0};
            fixed_[letter] = GetDriveTypeW(root) == DRIVE_FIXED;
            known_[letter] = true;
        }
        return fixed_[letter];
    }

private:
    bool known_[26] = {};
    bool fixed_[26] = {};
};

}  // namespace

bool IsMenuPicture(std::wstring_view path) {
    const size_t separator = path.find_last_of(L".\\:");
    if (separator == std::wstring_view::npos || path[separator] != L'.') return false;
    const std::wstring_view extension = path.substr(separator);
    if (extension.size() > 16) return false;
    char narrow[16];
    for (size_t i = 0; i < extension.size(); ++i) {
        const wchar_t c = extension[i];
        if (c > 0x7F) return false;  // every extension is ASCII
        narrow[i] = static_cast<char>(c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c);
    }
    const std::string_view lowered(narrow, extension.size());
    if (ImageExtensions::IsAcceptedExtension(lowered)) return true;
    for (const std::string_view kind : NewerKinds)
        if (lowered == kind) return true;
    return false;
}

bool OnLocalFixedDrive(std::wstring_view path) {
    return DriveTypes().LocalFixed(path);
}

Verdict FirstAccepted(IShellItemArray* items, bool mayBeSlow) {
    Paths paths(items);
    DriveTypes drives;
    std::wstring path;
    while (paths.Next(path)) {
        if (IsMenuPicture(path)) return Verdict::Accepted;
        // Whether it is a folder is the file system's to say.
        if (!mayBeSlow && !drives.LocalFixed(path)) return Verdict::Pending;
        if (IsFolder(path)) return Verdict::Accepted;
    }
    return Verdict::NoneAccepted;
}

std::string ListText(IShellItemArray* items) {
    Paths paths(items);
    std::string text;
    std::string line;
    std::wstring path;
    while (paths.Next(path)) {
        if (!IsMenuPicture(path) && !IsFolder(path)) continue;
        const int length = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path.data(),
                                               static_cast<int>(path.size()), nullptr, 0, nullptr, nullptr);
        if (length <= 0) continue;
        line.resize(static_cast<size_t>(length));
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()), &line[0],
                            length, nullptr, nullptr);
        if (text.empty()) text = "\xEF\xBB\xBF";
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace ItemSelection
