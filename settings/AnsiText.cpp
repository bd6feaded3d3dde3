#include "settings/AnsiText.h"

namespace AnsiText {

std::wstring Widen(std::string_view text, UINT codePage) {
    if (text.empty() || text.size() > INT_MAX) return std::wstring();
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    const int written = MultiByteToWideChar(codePage, 0, text.data(), size, &wide[0], length);
    wide.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return wide;
}

}  // namespace AnsiText
