// The generic half of a registration pass: the server's path and the COM
// class entries that every factory writes. The shell's own entries are the
// extension factory's (untMain/ShellExtRegistration.cpp), which also shows
// the whole tree that a pass writes.
#include <string>

#include "comserver/ComServ.h"
#include "comserver/Exceptions.h"
#include "comserver/RegistrationHelpers.h"
#include "resources/Messages.h"

namespace {

bool FindLongName(const std::string& path, std::string& longName) {
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    // Closed before the copy, which may throw std::bad_alloc.
    FindClose(search);
    longName = found.cFileName;
    return true;
}

}  // namespace

// The loader reports the path that the module was loaded by, which may be a
// short form ("C:\PROGRA~1\..."); COM gets the long form, so that a later
// change of the 8.3 names cannot strand the registration.
std::string TComServer::ServerPath() {
    char path[MAX_PATH + 2] = {};
    const DWORD length = GetModuleFileNameA(HInstance, path, sizeof path);
    // 0 is failure; a full buffer means the path was cut short. Either way
    // there is no path worth registering.
    if (length == 0 || length >= sizeof path) throw EOleRegistrationError(Messages::RegistryWriteFailed);
    return LongPathByWalk(std::string(path, length), FindLongName);
}

void TComObjectFactory::UpdateRegistration(bool doRegister) {
    if (Instancing() == ciInternal) return;

    const std::string classKey = "CLSID\\" + ClassIdText(ClassId());
    const std::string serverKey = classKey + "\\" + ComServer()->ServerKeyName();

    if (doRegister) {
        WriteClassKey(classKey, "", Description());
        WriteClassKey(serverKey, "", RegisteredServerPath(ComServer()->ServerPath()));
        if (ThreadingModel() != tmSingle)
            WriteClassKey(serverKey, "ThreadingModel", ThreadingModelName(ThreadingModel()));
    } else {
        // Server key first: the class key goes only once it has no subkeys left.
        DeleteClassKey(serverKey);
        DeleteClassKey(classKey);
    }
}
