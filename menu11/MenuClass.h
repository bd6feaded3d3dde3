// The class the Windows 11 module serves, and the module's own bookkeeping.
#pragma once

#include <windows.h>

// {B1DF1B31-F10C-4575-BE9E-643EB1BA1475}: named by the package manifest
// (package/AppxManifest.xml) as the command of the first context menu.
extern const CLSID CLSID_QuennelExplorerCommand;

namespace MenuModule {

// Objects alive and locks held: the module may go when both are zero.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
void Lock(bool lock) noexcept;
bool InUse() noexcept;

HINSTANCE Instance() noexcept;

}  // namespace MenuModule

// The icon resource: the menu bitmap as an icon, for GetIcon's "path,-id".
#define IDI_MENU 101
