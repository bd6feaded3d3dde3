#include "converter/pipeline/Naming.h"

namespace Naming {

std::wstring Stem(const std::wstring& fileName) {
    const size_t dot = fileName.find_last_of(L'.');
    if (dot == std::wstring::npos || dot == 0) return fileName;
    return fileName.substr(0, dot);
}

std::wstring SizeTag(int width, int height) {
    return L" (" + std::to_wstring(width) + L"x" + std::to_wstring(height) + L")";
}

std::wstring Candidate(const std::wstring& stem, const std::wstring& tag, const std::wstring& extension,
                       unsigned attempt) {
    std::wstring name = stem + tag;
    if (attempt > 1) name += L" (" + std::to_wstring(attempt) + L")";
    return name + extension;
}

}  // namespace Naming
