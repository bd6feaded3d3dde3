// The items the user right-clicked, as the shell knows them: absolute item ID
// lists below one common folder, in selection order.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

class Selection {
public:
    Selection() = default;
    ~Selection();
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;

    // Each path must exist; all must lie in one folder, as in one Explorer window.
    bool AddPaths(const std::vector<std::wstring>& paths, std::wstring& error);
    // Every item that Explorer lists in the folder (hidden ones excepted), in its
    // default order: folders first, then files, each by name. Ctrl+A, then right-click.
    bool AddFolderContents(const std::wstring& folder, std::wstring& error);

    size_t Count() const { return items_.size(); }
    bool Empty() const { return items_.empty(); }
    PCIDLIST_ABSOLUTE FolderPidl() const { return folder_; }
    const std::wstring& FolderPath() const { return folderPath_; }
    const std::wstring& Path(size_t index) const { return paths_[index]; }
    bool IsFolder(size_t index) const { return folders_[index]; }

    // The shell's own data object (CF_HDROP and friends) for the first `count`
    // items, made by the parent folder itself. Call on the apartment that uses it.
    HRESULT CreateDataObject(size_t count, IDataObject** out) const;
    // The whole selection as Windows 11's menu hands it to its commands.
    HRESULT CreateItemArray(IShellItemArray** out) const;

private:
    bool Add(PIDLIST_ABSOLUTE item, std::wstring& error);  // takes ownership

    PIDLIST_ABSOLUTE folder_ = nullptr;
    std::wstring folderPath_;
    std::vector<PIDLIST_ABSOLUTE> items_;
    std::vector<std::wstring> paths_;
    std::vector<bool> folders_;
};
