#include "untMain/KontextMenuShellExt.h"
STDMETHODIMP TKontextMenuShellExt::InvokeCommand(LPCMINVOKECOMMANDINFO) { return E_NOTIMPL; }
