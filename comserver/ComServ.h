// The module-wide in-process server object.
#pragma once

#include "comserver/ComObj.h"

class TComServer : public TComServerObject {
public:
    TComServer();
    ~TComServer() override;  // destroys every factory bound to it

    LONG AdjustObjectCount(bool created) override;
    LONG AdjustFactoryCount(bool added) override;
    std::string ServerPath() override;
    std::string ServerKeyName() override;

    // One registration (true) or unregistration (false) pass over every
    // factory; errors pass on to the caller.
    void UpdateRegistration(bool doRegister);

    LONG ObjectCount() const { return objectCount_; }
    LONG FactoryCount() const { return factoryCount_; }
    bool IsInprocServer() const { return isInprocServer_; }
    bool StartRegistration() const { return startRegistration_; }
    ITypeLib* TypeLib() const { return typeLib_; }

private:
    volatile LONG objectCount_ = 0;
    volatile LONG factoryCount_ = 0;
    bool isInprocServer_ = true;
    ITypeLib* typeLib_ = nullptr;  // the module carries no type library
    bool startRegistration_ = false;
};

extern TComServer* ComServer;

// The frame's part of process attach: records the platform (the one
// GetVersionExA call of the module's life) and creates ComServer. Throws
// when out of memory, leaving nothing behind.
void ComServerStartup();
// The frame's part of process detach: destroys ComServer, which destroys its
// factories, and then the class manager. Safe to call when nothing is up.
void ComServerShutdown();
// The module handle recorded at process attach.
extern HINSTANCE HInstance;
// dwPlatformId from GetVersionExA at start-up; 0 when that call failed.
extern DWORD Win32Platform;
