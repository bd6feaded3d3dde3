// Building blocks of a registration pass: the class-key writes below
// HKEY_CLASSES_ROOT, the CLSID text, and the rules that turn the module's file
// name into the server path that COM loads.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "comserver/ComObj.h"

// Creates (or opens) `key` below HKEY_CLASSES_ROOT, with every missing key
// above it, and sets one REG_SZ value in it; an empty `valueName` sets the
// key's default value. EOleRegistrationError when either step fails.
void WriteClassKey(const std::string& key, const std::string& valueName, const std::string& value);

// Deletes `key` below HKEY_CLASSES_ROOT. The registry refuses a key that still
// has subkeys, so another program's entries below it survive; a missing or
// protected key is passed over. Never fails.
void DeleteClassKey(const std::string& key);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as StringFromCLSID writes it.
// std::bad_alloc when COM has no memory for it.
std::string ClassIdText(REFCLSID classId);

// The "ThreadingModel" text of a model; empty for tmSingle, which is
// registered by leaving the value out.
const char* ThreadingModelName(TThreadingModel model);

// The path as registered: a path with a blank in it goes in its short form,
// which has none. When the short form cannot be had (GetShortPathNameA fails,
// or the volume keeps no 8.3 names), the long path is kept: COM can still load
// the class from it, and could not from an empty text.
std::string RegisteredServerPath(const std::string& longPath);

// ---------------------------------------------------------------------------
// Pure path rules (no file system access).

// The directory of `path`: everything up to its last "\" or ":". A "\" there
// is kept when it follows another "\" or a ":", and dropped otherwise: so
// "C:\Windows\System" gives "C:\Windows", and "C:\Windows" gives "C:\".
std::string PathDirectory(const std::string& path);

// "C:" for a drive path, "\\server\share" for a UNC path, else empty.
std::string PathDrivePart(const std::string& path);

// Looks one path up on disk and gives the long name of its last component;
// false when there is no such entry (as for a drive root or a share).
using LongNameLookup = std::function<bool(const std::string& path, std::string& longName)>;

// Rebuilds `path` from the long names of its components, from the file up to
// the first component that cannot be looked up, then puts the drive part in
// front. "C:\PROGRA~1\Suite\ext.dll" gives "C:\Program Files\Suite\ext.dll".
std::string LongPathByWalk(const std::string& path, const LongNameLookup& lookup);
