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

void TStringList::Clear() {
    text_.clear();
    count_ = 0;
}

void TStringList::Add(std::string_view entry) {
    text_.append(entry.data(), entry.size());
    text_.append("\r\n", 2);
    ++count_;
}

void TStringList::Swap(TStringList& other) noexcept {
    text_.swap(other.text_);
    std::swap(count_, other.count_);
}

void TStringList::ShrinkToFit() { text_.shrink_to_fit(); }

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
