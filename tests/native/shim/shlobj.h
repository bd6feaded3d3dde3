// Host-build stand-in: the drop list header of the shell's CF_HDROP format.
#pragma once

#include <windows.h>

struct DROPFILES {
    DWORD pFiles;  // offset of the path list from the start of the block
    POINT pt;
    BOOL fNC;
    BOOL fWide;
};
