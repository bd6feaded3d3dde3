// IContextMenu::InvokeCommand: the chosen command becomes the list file and
// the start of the suite's converter (ConverterStart.cpp).
#include "untMain/CommandExecution.h"
#include "untMain/CommandTable.h"
#include "untMain/KontextMenuShellExt.h"
#include "untMain/ModuleState.h"

STDMETHODIMP TKontextMenuShellExt::InvokeCommand(LPCMINVOKECOMMANDINFO lpici) {
    if (!lpici) return E_INVALIDARG;
    // lpVerb is either an offset in its low word or a pointer to a verb
    // string; a pointer has bits above the low 16 set (all of them count on
    // 64-bit). No verb string is served, and none is read.
    const auto verb = reinterpret_cast<UINT_PTR>(lpici->lpVerb);
    if ((verb >> 16) != 0) return E_FAIL;
    const CommandOffset offset = static_cast<CommandOffset>(verb & 0xFFFF);
    if (offset >= CommandCount) return E_INVALIDARG;

    // The module-wide selection, copied only once the settings name an
    // install directory.
    struct ModuleSelection : CommandExecution::ListSource {
        std::string Text() const override { return SelectionText(); }
    };
    return CommandExecution::Execute(offset, ModuleSelection());
}
