// Paths beyond MAX_PATH. The program declares itself long-path aware in its
// manifest, but that works only where the machine allows it; the "\\?\" form
// works everywhere, so every call that touches a file takes that form once a
// path comes near the limit. Paths shown to the user stay as they are.
#pragma once

#include <string>

namespace LongPaths {

// `path` (full, as GetFullPathNameW gives it) in the form to hand the file
// system: unchanged while it is short, else "\\?\C:\..." or
// "\\?\UNC\server\share\...".
std::wstring ForApi(const std::wstring& path);

}  // namespace LongPaths
