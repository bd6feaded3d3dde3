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

// Opens an existing file the user named (a full path) for reading, shared
// for reading and writing, through ForApi: the one way a source, its
// palette or its metadata is opened. INVALID_HANDLE_VALUE and the last
// error as CreateFileW gives them.
void* OpenToRead(const std::wstring& path, unsigned long flags = 0);

}  // namespace LongPaths
