// Text conversions and console output for the shell host. Everything the host
// prints is UTF-8 on a pipe or file and wide text on a real console, so German
// captions read the same in a terminal and in a captured log.
#pragma once

#include <windows.h>

#include <string>

std::string Utf8(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);
std::string AnsiFromWide(const std::wstring& text);  // the system's ANSI code page
// Bytes in a Windows code page (1252 for the extension's captions) as wide text.
std::wstring WideFromCodePage(const std::string& bytes, UINT codePage);

// "0x80070057" and, for the common codes, its name: "0x80070057 E_INVALIDARG".
std::string HresultText(HRESULT hr);

// Case-insensitive substring test over wide text (no locale beyond the system's).
bool ContainsNoCase(const std::wstring& haystack, const std::wstring& needle);
bool EqualNoCase(const std::wstring& a, const std::wstring& b);

void Out(const std::string& utf8);   // stdout
void Err(const std::string& utf8);   // stderr
