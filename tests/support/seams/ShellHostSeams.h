// The seams of shellhost.exe, the test tool that drives the menus: applied
// to a module the host loads, each only when its variable is set, so that a
// host run without them sees the module as Explorer does.
//
// QUENNEL_TEST_NO_SHORT_NAMES (any value): a volume without 8.3 names, as
// NTFS data drives formatted by Windows 8 and later have them turned off
// (Wine makes them up for every long name). GetShortPathNameW hands the
// long path back unchanged, as Windows does where no short name exists.
#pragma once

#include <windows.h>

namespace ShellHostSeams {

void Apply(HMODULE module);

}  // namespace ShellHostSeams
