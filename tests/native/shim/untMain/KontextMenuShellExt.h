// Host-build stand-in for the extension object: of it the help-text source
// defines one method, which the host tests call directly.
#pragma once

#include <windows.h>

class TKontextMenuShellExt {
public:
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT* reserved, LPSTR pszName,
                                  UINT cchMax);
};
