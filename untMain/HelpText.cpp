#include "untMain/KontextMenuShellExt.h"
STDMETHODIMP TKontextMenuShellExt::GetCommandString(UINT_PTR, UINT, UINT*, LPSTR, UINT) { return E_NOTIMPL; }
