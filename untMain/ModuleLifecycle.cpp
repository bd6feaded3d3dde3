#include <new>

#include "comserver/ComServ.h"
#include "comserver/Exceptions.h"
#include "resources/Messages.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"

namespace {

// -1 while the module's own start-up is in effect, 0 otherwise. The loader
// serialises attach and detach, so no interlocking is needed. Either half
// runs only from the other's state, so a second detach (the C runtime and
// the loader both send one after a failed attach) finds nothing to do.
LONG StartupCounter = 0;

void ReportStartupFailure(const char* message) noexcept {
    MessageBoxA(nullptr, message, Messages::CaptionApplicationError, MB_OK | MB_ICONSTOP);
}

}  // namespace

void ModuleShutdown() {
    if (StartupCounter != -1) return;
    ++StartupCounter;
    delete MenuBitmap;
    MenuBitmap = nullptr;
    delete SelectionList;
    SelectionList = nullptr;
}

void ModuleStartup(HINSTANCE instance) {
    if (StartupCounter != 0) return;
    --StartupCounter;
    try {
        // The factory belongs to ComServer from here on: the frame's
        // shut-down destroys it, also after a failed start-up.
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

BOOL ModuleProcessAttach(HINSTANCE instance) {
    HInstance = instance;
    try {
        ComServerStartup();
        ModuleStartup(instance);
        return TRUE;
    } catch (const Exception& e) {
        ComServerShutdown();
        ReportStartupFailure(e.Message().c_str());
    } catch (const std::bad_alloc&) {
        ComServerShutdown();
        ReportStartupFailure(Messages::OutOfMemory);
    } catch (const std::exception& e) {
        ComServerShutdown();
        ReportStartupFailure(e.what());
    } catch (...) {
        ComServerShutdown();
        ReportStartupFailure("");
    }
    return FALSE;
}

void ModuleProcessDetach() {
    ModuleShutdown();
    ComServerShutdown();
}
