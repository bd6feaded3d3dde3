// What the installer's programs share: where they themselves were installed.
#pragma once

#include <string>

// The folder this program lives in, in its long form, without a trailing
// backslash: the folder the package put it and transform.exe in. Empty when
// the system cannot say.
std::wstring OwnFolder();
