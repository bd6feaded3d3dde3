#include "Selection.h"

#include <algorithm>

#include "Text.h"

namespace {

std::wstring PathOf(PCIDLIST_ABSOLUTE pidl) {
    wchar_t path[MAX_PATH * 4] = {};
    if (SHGetPathFromIDListW(pidl, path)) return path;
    return std::wstring();
}

std::wstring FullPath(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    std::wstring out(size, L'\0');
    DWORD got = GetFullPathNameW(path.c_str(), size, &out[0], nullptr);
    out.resize(got < size ? got : 0);
    return out.empty() ? path : out;
}

}  // namespace

Selection::~Selection() {
    for (PIDLIST_ABSOLUTE item : items_) ILFree(item);
    if (folder_) ILFree(folder_);
}

bool Selection::Add(PIDLIST_ABSOLUTE item, std::wstring& error) {
    PIDLIST_ABSOLUTE parent = ILCloneFull(item);
    if (!parent) {
        ILFree(item);
        error = L"out of memory";
        return false;
    }
    ILRemoveLastID(parent);
    std::wstring path = PathOf(item);
    if (!folder_) {
        folder_ = parent;
        folderPath_ = PathOf(parent);
    } else {
        bool same = ILIsEqual(folder_, parent);
        ILFree(parent);
        if (!same) {
            ILFree(item);
            error = L"\"" + path + L"\" is not in " + folderPath_ +
                    L": a selection comes from one folder, as in one Explorer window";
            return false;
        }
    }
    SFGAOF attributes = SFGAO_FOLDER | SFGAO_FILESYSTEM;
    IShellFolder* parentFolder = nullptr;
    PCUITEMID_CHILD child = nullptr;
    bool isFolder = false;
    if (SUCCEEDED(SHBindToParent(item, IID_IShellFolder, reinterpret_cast<void**>(&parentFolder), &child))) {
        if (SUCCEEDED(parentFolder->GetAttributesOf(1, &child, &attributes)))
            isFolder = (attributes & SFGAO_FOLDER) != 0;
        parentFolder->Release();
    }
    items_.push_back(item);
    paths_.push_back(path);
    folders_.push_back(isFolder);
    return true;
}

bool Selection::AddPaths(const std::vector<std::wstring>& paths, std::wstring& error) {
    for (const std::wstring& given : paths) {
        std::wstring path = FullPath(given);
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            error = L"\"" + given + L"\" does not exist";
            return false;
        }
        PIDLIST_ABSOLUTE item = nullptr;
        HRESULT hr = SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr);
        if (FAILED(hr)) {
            error = L"the shell does not know \"" + path + L"\" (SHParseDisplayName " +
                    WideFromUtf8(HresultText(hr)) + L")";
            return false;
        }
        if (!Add(item, error)) return false;
    }
    return true;
}

bool Selection::AddFolderContents(const std::wstring& given, std::wstring& error) {
    std::wstring path = FullPath(given);
    PIDLIST_ABSOLUTE folder = nullptr;
    HRESULT hr = SHParseDisplayName(path.c_str(), nullptr, &folder, 0, nullptr);
    if (FAILED(hr)) {
        error = L"the shell does not know \"" + path + L"\" (SHParseDisplayName " +
                WideFromUtf8(HresultText(hr)) + L")";
        return false;
    }
    IShellFolder* desktop = nullptr;
    IShellFolder* shellFolder = nullptr;
    hr = SHGetDesktopFolder(&desktop);
    if (SUCCEEDED(hr)) {
        hr = desktop->BindToObject(folder, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&shellFolder));
        desktop->Release();
    }
    IEnumIDList* children = nullptr;
    if (SUCCEEDED(hr)) hr = shellFolder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, &children);
    if (FAILED(hr) || hr == S_FALSE) {
        if (shellFolder) shellFolder->Release();
        ILFree(folder);
        error = L"cannot list \"" + path + L"\" (" + WideFromUtf8(HresultText(hr)) + L")";
        return false;
    }

    struct Child {
        PIDLIST_ABSOLUTE item;
        std::wstring name;
        bool isFolder;
    };
    std::vector<Child> found;
    PITEMID_CHILD child = nullptr;
    while (children->Next(1, &child, nullptr) == S_OK) {
        SFGAOF attributes = SFGAO_FOLDER;
        PCUITEMID_CHILD one = child;
        shellFolder->GetAttributesOf(1, &one, &attributes);
        PIDLIST_ABSOLUTE item = ILCombine(folder, child);
        CoTaskMemFree(child);
        if (!item) continue;
        std::wstring itemPath = PathOf(item);
        found.push_back({item, itemPath.substr(itemPath.find_last_of(L'\\') + 1), (attributes & SFGAO_FOLDER) != 0});
    }
    children->Release();
    shellFolder->Release();

    std::stable_sort(found.begin(), found.end(), [](const Child& a, const Child& b) {
        if (a.isFolder != b.isFolder) return a.isFolder;
        return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.name.c_str(), -1, b.name.c_str(), -1) ==
               CSTR_LESS_THAN;
    });

    bool ok = true;
    for (Child& entry : found) {
        if (ok)
            ok = Add(entry.item, error);
        else
            ILFree(entry.item);
    }
    if (ok && found.empty()) {
        error = L"\"" + path + L"\" is empty: nothing to right-click";
        ok = false;
    }
    ILFree(folder);
    return ok;
}

HRESULT Selection::CreateDataObject(size_t count, IDataObject** out) const {
    *out = nullptr;
    if (items_.empty()) return E_INVALIDARG;
    count = std::min(count, items_.size());
    IShellFolder* parent = nullptr;
    PCUITEMID_CHILD first = nullptr;
    HRESULT hr = SHBindToParent(items_[0], IID_IShellFolder, reinterpret_cast<void**>(&parent), &first);
    if (FAILED(hr)) return hr;
    std::vector<PCUITEMID_CHILD> children;
    children.reserve(count);
    for (size_t i = 0; i < count; ++i) children.push_back(ILFindLastID(items_[i]));
    hr = parent->GetUIObjectOf(nullptr, static_cast<UINT>(count), children.data(), IID_IDataObject, nullptr,
                               reinterpret_cast<void**>(out));
    parent->Release();
    return hr;
}

HRESULT Selection::CreateItemArray(IShellItemArray** out) const {
    *out = nullptr;
    if (items_.empty()) return E_INVALIDARG;
    std::vector<PCIDLIST_ABSOLUTE> items(items_.begin(), items_.end());
    return SHCreateShellItemArrayFromIDLists(static_cast<UINT>(items.size()), items.data(), out);
}
