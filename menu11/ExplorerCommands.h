// Windows 11's first context menu asks a command object, not a menu: the root
// "Grafikformat ändern" and, through EnumSubCommands, one command for each
// entry of the classic submenu, in the same order.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>

#include "untMain/CommandTable.h"

// The root command with one reference; throws std::bad_alloc.
IExplorerCommand* CreateRootCommand();
