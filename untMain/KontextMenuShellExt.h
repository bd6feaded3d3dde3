// The context-menu extension object and its factory.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "comserver/ComObj.h"

// {5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}
extern const CLSID CLSID_KontextMenuShellExt;
extern const char KontextMenuDescription[];  // "Vardel Quennel"

// Carries no data of its own: what it works on is module-wide (ModuleState.h).
// Every method answers an HRESULT and lets no exception out.
class TKontextMenuShellExt : public TComObject, public IContextMenu, public IShellExtInit {
public:
    static TComObject* Create();

    DECLARE_DELEGATING_IUNKNOWN

    // IContextMenu
    STDMETHODIMP QueryContextMenu(HMENU hmenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                  UINT uFlags) override;
    STDMETHODIMP InvokeCommand(LPCMINVOKECOMMANDINFO lpici) override;
    STDMETHODIMP GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT* reserved, LPSTR pszName,
                                  UINT cchMax) override;
    // IShellExtInit
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE pidlFolder, IDataObject* pdtobj,
                            HKEY hkeyProgID) override;

protected:
    void* FindInterface(REFIID iid) override;
};

class TKontextMenuShellExtFactory : public TComObjectFactory {
public:
    using TComObjectFactory::TComObjectFactory;
    void UpdateRegistration(bool doRegister) override;
};

// The module's own start-up and shut-down: the factory, MenuBitmap (from the
// resource "P2M2" of `instance`) and SelectionList. Start-up runs once until
// the matching shut-down; it throws when a step fails, after undoing the
// steps already done.
void ModuleStartup(HINSTANCE instance);
void ModuleShutdown();

// The whole of process attach and detach, in order: module handle, frame,
// the module's own part. A failed attach is undone, shown in the
// "Anwendungsfehler" message box, and answered FALSE for the loader.
BOOL ModuleProcessAttach(HINSTANCE instance);
void ModuleProcessDetach();
