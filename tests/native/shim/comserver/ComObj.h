// Host-build stand-in for the COM frame's header: of it the registration
// helpers need only the threading-model names.
#pragma once

#include <windows.h>

enum TClassInstancing { ciInternal, ciSingleInstance, ciMultiInstance };
enum TThreadingModel { tmSingle, tmApartment, tmFree, tmBoth, tmNeutral };
