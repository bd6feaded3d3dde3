// State shared by every extension object of the process. The extension
// object itself carries no data: the latest Initialize, on whichever object,
// decides what every menu and command works on.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "untMain/StringList.h"

// One GDI bitmap, made once from a resource and handed out by handle.
class TBitmap {
public:
    TBitmap() = default;
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    // Turns the RT_BITMAP resource into a DIB section at once; throws
    // Exception when the resource is missing or unreadable.
    void LoadFromResourceName(HINSTANCE instance, const char* name);
    HBITMAP Handle() const { return handle_; }

private:
    HBITMAP handle_ = nullptr;
};

extern TStringList* SelectionList;
extern std::atomic<bool> HasSelection;
extern TBitmap* MenuBitmap;

// Several apartment threads may run Initialize and InvokeCommand at once.
// The list is replaced as one step under the exclusive lock and read under
// the shared lock, so nobody sees a half-built list.
void PublishSelection(TStringList& built, bool accepted);  // swaps `built` in
std::string SelectionText();                              // the list file's bytes
size_t SelectionCount();

// The menu bitmap's handle, or 0 when there is none.
HBITMAP MenuBitmapHandle();
