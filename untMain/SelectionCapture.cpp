#include "untMain/KontextMenuShellExt.h"
STDMETHODIMP TKontextMenuShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY) { return E_NOTIMPL; }
