#include "untMain/HelpText.h"

#include <algorithm>
#include <cstring>

#include "untMain/CommandTable.h"
#include "untMain/KontextMenuShellExt.h"

size_t CopyHelpText(const char* text, char* buffer, size_t bufferSize) noexcept {
    if (bufferSize == 0) return 0;
    // A status bar line cut short says more than none: a small buffer gets
    // the text's beginning rather than a failure.
    const size_t length = std::min(std::strlen(text), bufferSize - 1);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length + 1;
}

// Only the 8-bit help text is served. Verbs, validation and wide requests
// succeed without an answer, whatever the offset and cchMax: they never
// write, so the buffer's size does not matter to them. A help-text request
// fails for an offset without a text, and for a buffer with no room even for
// the terminating zero: S_OK would tell the shell its buffer holds a text.
// idCmd is taken whole: an offset with bits above the low word is no offset
// of ours.
STDMETHODIMP TKontextMenuShellExt::GetCommandString(UINT_PTR idCmd, UINT uFlags, UINT* /*reserved*/,
                                                    LPSTR pszName, UINT cchMax) {
    try {
        if (uFlags != GCS_HELPTEXTA) return S_OK;
        if (idCmd < 1 || idCmd >= CommandCount) return E_INVALIDARG;
        const char* text = CommandTable::HelpTextOf(static_cast<CommandOffset>(idCmd));
        if (!text || !pszName) return E_UNEXPECTED;
        if (cchMax == 0) return E_INVALIDARG;
        CopyHelpText(text, pszName, cchMax);
        return S_OK;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
