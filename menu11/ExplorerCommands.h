// Windows 11's first context menu asks a command object, not a menu: the root
// "Grafikformat ändern" and, through EnumSubCommands, one command for each
// entry of the classic submenu, in the same order.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>

#include "untMain/CommandTable.h"
#include "untMain/StringList.h"

// The root command with one reference; throws std::bad_alloc.
IExplorerCommand* CreateRootCommand();

// The pictures and folders of `items` the classic menu would accept, in the
// 8-bit form it hands the converter; false when there is none. Items without
// a file-system path (virtual folders' items) are not in the classic menu's
// drop list either and are passed over.
bool CaptureItems(IShellItemArray* items, TStringList& list);
