#include "untMain/KontextMenuShellExt.h"

const CLSID CLSID_KontextMenuShellExt = {
    0x5B1C9E47, 0x2D83, 0x4A6F, {0x9E, 0x10, 0x7C, 0x4D, 0x2B, 0x8A, 0x63, 0xF1}};
const char KontextMenuDescription[] = "Vardel Quennel";

TComObject* TKontextMenuShellExt::Create() {
    return new TKontextMenuShellExt();
}

void* TKontextMenuShellExt::FindInterface(REFIID iid) {
    if (IsEqualGUID(iid, IID_IContextMenu)) return static_cast<IContextMenu*>(this);
    if (IsEqualGUID(iid, IID_IShellExtInit)) return static_cast<IShellExtInit*>(this);
    return TComObject::FindInterface(iid);
}

// Everything the object works on is module-wide; it adds its two interface
// pointers to TComObject and nothing else.
static_assert(sizeof(TKontextMenuShellExt) == sizeof(TComObject) + 2 * sizeof(void*),
              "TKontextMenuShellExt must carry no data of its own");
