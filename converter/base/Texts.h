// What the converter says to the user, in German.
#pragma once

#include <windows.h>

#include <string>

#include "converter/base/Decoded.h"

namespace Texts {

constexpr wchar_t Title[] = L"Grafikformat \u00e4ndern";

// Why a file or folder could not be read or a result not be written.
std::wstring ReasonForError(DWORD error);
// The same for a failure code of the imaging component or the file system.
std::wstring ReasonForResult(HRESULT hr);
// Why a reader could not read a picture; `kind` names the format it was
// taken for (nullptr: none).
std::wstring ReasonForRead(ReadStatus status, const wchar_t* kind);

}  // namespace Texts
