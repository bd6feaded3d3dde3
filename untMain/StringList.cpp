#include "untMain/StringList.h"

#include <utility>

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
