// Placeholder until the registration pass is written.
#include "comserver/ComServ.h"

#include <stdexcept>

std::string TComServer::ServerPath() {
    char path[MAX_PATH + 2] = {};
    const DWORD len = GetModuleFileNameA(HInstance, path, sizeof path);
    return std::string(path, len);
}

void TComObjectFactory::UpdateRegistration(bool) {
    throw std::runtime_error("not yet");
}
