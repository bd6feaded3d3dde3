#include "untMain/KontextMenuShellExt.h"
STDMETHODIMP TKontextMenuShellExt::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT) { return E_NOTIMPL; }
