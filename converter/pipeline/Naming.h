// The names of results. Pure: no Windows types; names are UTF-16 as the
// file system keeps them.
#pragma once

#include <string>

namespace Naming {

// The file name without its last extension: "Foto.2024.JPG" gives
// "Foto.2024"; a name that is only an extension (".png") is its own stem.
std::wstring Stem(const std::wstring& fileName);

// The name of a resize result's tag: " (800x600)".
std::wstring SizeTag(int width, int height);

// The name to try at attempt n (1, 2, ...): stem, tag, then " (n)" from the
// second attempt on, then the extension (which includes its dot).
std::wstring Candidate(const std::wstring& stem, const std::wstring& tag, const std::wstring& extension,
                       unsigned attempt);

}  // namespace Naming
