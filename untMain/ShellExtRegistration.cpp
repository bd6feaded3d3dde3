#include "untMain/KontextMenuShellExt.h"
void TKontextMenuShellExtFactory::UpdateRegistration(bool doRegister) { TComObjectFactory::UpdateRegistration(doRegister); }
