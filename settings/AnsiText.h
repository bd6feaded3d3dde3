// Text in an 8-bit code page as UTF-16: the list's lines and the settings
// are ANSI text, the converter and the installer's user step work in UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace AnsiText {

// `text` in `codePage` (the ANSI code page by default) as UTF-16; bytes the
// code page does not map become its default character.
std::wstring Widen(std::string_view text, UINT codePage = CP_ACP);

}  // namespace AnsiText
