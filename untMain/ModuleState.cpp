#include "untMain/ModuleState.h"

#include "comserver/Exceptions.h"
#include "resources/Messages.h"

TStringList* SelectionList = nullptr;
std::atomic<bool> HasSelection{false};
TBitmap* MenuBitmap = nullptr;

namespace {
SRWLOCK SelectionLock = SRWLOCK_INIT;
}

void TStringList::Clear() {
    text_.clear();
    starts_.clear();
}

void TStringList::Add(std::string_view entry) {
    starts_.push_back(static_cast<uint32_t>(text_.size()));
    text_.append(entry.data(), entry.size());
    text_.append("\r\n", 2);
}

std::string_view TStringList::Get(size_t index) const {
    const size_t begin = starts_.at(index);
    const size_t end = index + 1 < starts_.size() ? starts_[index + 1] : text_.size();
    return std::string_view(text_).substr(begin, end - begin - 2);
}

void TStringList::Swap(TStringList& other) noexcept {
    text_.swap(other.text_);
    starts_.swap(other.starts_);
}

void TStringList::Reserve(size_t entries, size_t bytes) {
    starts_.reserve(entries);
    text_.reserve(bytes);
}

void TStringList::ShrinkToFit() {
    text_.shrink_to_fit();
    starts_.shrink_to_fit();
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
