// Registration of the context-menu extension: the COM class (through the base
// factory) and the shell's handler entries for every file and every folder.
//
// What a registration pass writes, in this order; every value is REG_SZ:
//
//   HKEY_CLASSES_ROOT
//     CLSID\{5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1}    (default) = "Vardel Quennel"     base factory
//       InprocServer32                                  (default) = <server path>        base factory
//                                                       ThreadingModel = "Apartment"     base factory
//     Folder\shellex                                    (default) = ""
//       ContextMenuHandlers                             (default) = ""
//         Vardel Quennel                                (default) = "{5B1C9E47-...}"
//     *\shellex                                         (default) = ""
//       ContextMenuHandlers                             (default) = ""
//         Vardel Quennel                                (default) = "{5B1C9E47-...}"
//   HKEY_LOCAL_MACHINE, NT family only
//     SOFTWARE\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved
//                                   {5B1C9E47-2D83-4A6F-9E10-7C4D2B8A63F1} = "Vardel Quennel"
//
// <server path> is the module's long path, or its 8.3 form when the long path
// has a blank. Where the EnforceShellExtensionSecurity policy is set, Explorer
// on NT loads only the handlers listed under "Approved".
//
// Unregistration deletes, in this order: the "Vardel Quennel", then
// "ContextMenuHandlers", then "shellex" keys under "Folder" and then under
// "*", then InprocServer32 and the CLSID key. The registry keeps any of them
// that another program still has a subkey in. The "Approved" value stays:
// unregistration touches nothing below HKEY_LOCAL_MACHINE.
//
// A failed write ends the pass where it is; what was written stays.
#include "untMain/KontextMenuShellExt.h"

#include "comserver/ComServ.h"
#include "comserver/Exceptions.h"
#include "comserver/RegistrationHelpers.h"
#include "resources/Messages.h"
#include "settings/Registry.h"

namespace {

const char ShellExtensionsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions";
const char ApprovedKey[] = "Approved";

// The two roots the handler is attached to: every file, every folder.
const char* const HandlerRoots[] = {"Folder", "*"};

// Opens both keys with creation and writes the value only into "Approved"
// itself: when an open fails, the value must not land in "Shell Extensions"
// or in an "Approved" key directly below HKEY_LOCAL_MACHINE.
void WriteApproval(const std::string& classIdText, const std::string& description) {
    TRegistry registry(KEY_ALL_ACCESS);
    registry.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!registry.OpenKey(ShellExtensionsKey, true) || !registry.OpenKey(ApprovedKey, true))
        throw ERegistryException(Messages::Format(Messages::ErrorSettingData, classIdText));
    registry.WriteString(classIdText, description);
}

}  // namespace

void TKontextMenuShellExtFactory::UpdateRegistration(bool doRegister) {
    const std::string handlerName = KontextMenuDescription;
    if (doRegister) {
        TComObjectFactory::UpdateRegistration(true);
        const std::string classIdText = ClassIdText(ClassId());
        for (const char* root : HandlerRoots) {
            const std::string shellex = std::string(root) + "\\shellex";
            WriteClassKey(shellex, "", "");
            WriteClassKey(shellex + "\\ContextMenuHandlers", "", "");
            WriteClassKey(shellex + "\\ContextMenuHandlers\\" + handlerName, "", classIdText);
        }
        if (Win32Platform == VER_PLATFORM_WIN32_NT) WriteApproval(classIdText, Description());
    } else {
        for (const char* root : HandlerRoots) {
            const std::string shellex = std::string(root) + "\\shellex";
            DeleteClassKey(shellex + "\\ContextMenuHandlers\\" + handlerName);
            DeleteClassKey(shellex + "\\ContextMenuHandlers");
            DeleteClassKey(shellex);
        }
        TComObjectFactory::UpdateRegistration(false);
    }
}
