#include "untMain/ModuleState.h"

#include "comserver/Exceptions.h"
#include "resources/Messages.h"

#include <utility>

TStringList* SelectionList = nullptr;
std::atomic<bool> HasSelection{false};
TBitmap* MenuBitmap = nullptr;

namespace {
SRWLOCK SelectionLock = SRWLOCK_INIT;
}

TBitmap::~TBitmap() {
    if (handle_) DeleteObject(handle_);
}

void TBitmap::LoadFromResourceName(HINSTANCE instance, const char* name) {
    HANDLE image = LoadImageA(instance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    if (!image) throw Exception(Messages::Format(Messages::ResourceNotFound, name));
    if (handle_) DeleteObject(handle_);
    handle_ = static_cast<HBITMAP>(image);
}

void PublishSelection(TStringList& built, bool accepted) {
    AcquireSRWLockExclusive(&SelectionLock);
    if (SelectionList) SelectionList->Swap(built);
    HasSelection.store(accepted);
    ReleaseSRWLockExclusive(&SelectionLock);
}

std::string SelectionText() {
    AcquireSRWLockShared(&SelectionLock);
    std::string text;
    try {
        if (SelectionList) text = SelectionList->Text();
    } catch (...) {
        ReleaseSRWLockShared(&SelectionLock);
        throw;
    }
    ReleaseSRWLockShared(&SelectionLock);
    return text;
}

size_t SelectionCount() {
    AcquireSRWLockShared(&SelectionLock);
    const size_t count = SelectionList ? SelectionList->Count() : 0;
    ReleaseSRWLockShared(&SelectionLock);
    return count;
}

HBITMAP MenuBitmapHandle() {
    return MenuBitmap ? MenuBitmap->Handle() : nullptr;
}
