// The module's entry point: start-up on process attach, shut-down on detach.
#include <windows.h>

#include <new>

#include "comserver/ComServ.h"
#include "comserver/Exceptions.h"
#include "resources/Messages.h"
#include "untMain/KontextMenuShellExt.h"

namespace {

void RecordPlatform() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;  // 148 bytes
    if (GetVersionExA(&info)) Win32Platform = info.dwPlatformId;
}

// The frame's part of shut-down: the server destroys its factories, then the
// class manager goes.
void FrameShutdown() {
    delete ComServer;
    ComServer = nullptr;
    FreeComClassManager();
}

void ReportStartupFailure(const std::string& message) {
    MessageBoxA(nullptr, message.c_str(), Messages::CaptionApplicationError, MB_OK | MB_ICONSTOP);
}

BOOL Startup(HINSTANCE instance) {
    HInstance = instance;
    try {
        RecordPlatform();
        ComServer = new TComServer();
        ModuleStartup(instance);
        return TRUE;
    } catch (const Exception& e) {
        FrameShutdown();
        ReportStartupFailure(e.Message());
    } catch (const std::bad_alloc&) {
        FrameShutdown();
        ReportStartupFailure(Messages::OutOfMemory);
    } catch (...) {
        FrameShutdown();
        ReportStartupFailure(std::string());
    }
    return FALSE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return Startup(instance);
    case DLL_PROCESS_DETACH:
        ModuleShutdown();
        FrameShutdown();
        return TRUE;
    default:
        return TRUE;  // thread attach and detach touch nothing
    }
}
