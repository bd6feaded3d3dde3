// Windows 10 has no first-level menu for package commands. There the
// packages register the same command as a static verb of the picture kinds:
// HKCR\SystemFileAssociations\<ext>\shell\<verb> with ExplorerCommandHandler
// naming the class. Explorer then creates the class, asks it as Windows 11
// does (GetState, GetTitle, GetFlags, EnumSubCommands) and shows its
// sub-commands as a submenu of the verb.
#pragma once

#include <string>

struct StaticVerb {
    std::wstring keyPath;  // below HKEY_CLASSES_ROOT
    std::wstring clsid;    // "{...}", as ExplorerCommandHandler names it
    std::wstring module;   // the class's InprocServer32, empty when none is registered
};

// The first verb with an ExplorerCommandHandler that Windows 10 offers for
// the file `path` (by its extension, without case). False with `problem`
// set when there is none.
bool FindStaticVerb(const std::wstring& path, StaticVerb& verb, std::wstring& problem);
