#include "comserver/ComServ.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"

namespace {
// -1 while the module's own start-up is in effect; guards against running
// either half twice.
LONG StartupCounter = 0;
}  // namespace

void ModuleShutdown() {
    if (++StartupCounter != 0) return;
    delete MenuBitmap;
    MenuBitmap = nullptr;
    delete SelectionList;
    SelectionList = nullptr;
}

void ModuleStartup(HINSTANCE instance) {
    if (StartupCounter-- != 0) return;
    try {
        new TKontextMenuShellExtFactory(ComServer, &TKontextMenuShellExt::Create,
                                        CLSID_KontextMenuShellExt, "", KontextMenuDescription,
                                        ciMultiInstance, tmApartment);
        MenuBitmap = new TBitmap();
        SelectionList = new TStringList();
        MenuBitmap->LoadFromResourceName(instance, "P2M2");
    } catch (...) {
        ModuleShutdown();
        throw;
    }
}
