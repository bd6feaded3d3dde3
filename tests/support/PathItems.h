// An IShellItemArray over plain paths, for driving a command's GetState and
// Invoke where the shell cannot make the items: a server that does not exist
// (a UNC item must not be touched, so it need not be there), ten thousand
// items for a benchmark. Each item answers GetDisplayName with its path for
// SIGDN_FILESYSPATH and SIGDN_DESKTOPABSOLUTEPARSING, as a file-system
// item of the shell does, and nothing else.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <string>
#include <vector>

// One reference, released by the caller.
IShellItemArray* CreatePathItems(const std::vector<std::wstring>& paths);
