// The selection as Windows 11 hands it over: an IShellItemArray. Each item's
// file-system path goes through the same rules as a path of the classic
// menu's drop list (SelectionRules.h), so both menus accept the same items
// and write the same bytes.
#include <windows.h>
#include <shobjidl.h>

#include "menu11/ExplorerCommands.h"
#include "untMain/SelectionRules.h"

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

}  // namespace

bool CaptureItems(IShellItemArray* items, TStringList& list) {
    if (!items) return false;
    DWORD count = 0;
    if (FAILED(items->GetCount(&count))) return false;
    SelectionBuilder builder(list);
    for (DWORD i = 0; i < count; ++i) {
        Released<IShellItem> item;
        if (FAILED(items->GetItemAt(i, &item.object)) || !item.object) continue;
        TaskText path;
        if (FAILED(item.object->GetDisplayName(SIGDN_FILESYSPATH, &path.text)) || !path.text || !*path.text)
            continue;
        DropPath dropPath;
        dropPath.wide = std::wstring_view(path.text);  // zero-terminated, as the rules need
        builder.Take(dropPath);
    }
    return builder.Accepted();
}
