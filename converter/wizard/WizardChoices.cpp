#include "converter/wizard/WizardChoices.h"

#include <windows.h>

#include "settings/AnsiText.h"
#include "settings/Settings.h"

namespace WizardChoices {

namespace {

constexpr DWORD MaxChars = 32767;  // the longest path Windows knows

std::string Narrow(const std::wstring& ascii) {
    std::string narrow;
    for (wchar_t c : ascii) narrow += c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring& text) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ ||
        bytes > (MaxChars + 1) * sizeof(wchar_t))
        return false;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    DWORD got = bytes;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]), &got) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value.resize(got / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    text = value;
    return true;
}

bool WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// 1 .. 100 written in digits; 0 for anything else.
int Quality(const std::wstring& text) {
    if (text.empty() || text.size() > 3) return 0;
    int n = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return 0;
        n = n * 10 + (c - L'0');
    }
    return n >= 1 && n <= 100 ? n : 0;
}

}  // namespace

std::wstring KeyPath() { return AnsiText::Widen(Settings::KeyPath) + L"\\Wizard"; }

Choices Load() {
    Choices choices;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath().c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return choices;
    std::wstring text;
    if (ReadText(key, L"Format", text)) choices.format = Narrow(text);
    if (ReadText(key, L"Size", text)) choices.size = Narrow(text);
    if (ReadText(key, L"Width", text)) choices.width = text.substr(0, 10);
    if (ReadText(key, L"Height", text)) choices.height = text.substr(0, 10);
    if (ReadText(key, L"NoEnlarge", text)) choices.noEnlarge = text != L"0";
    if (ReadText(key, L"Quality", text) && Quality(text)) choices.quality = Quality(text);
    if (ReadText(key, L"IntoFolder", text)) choices.intoFolder = text == L"1";
    if (ReadText(key, L"Folder", text)) choices.folder = text;
    RegCloseKey(key);
    return choices;
}

bool Save(const Choices& choices) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = WriteText(key, L"Format", AnsiText::Widen(choices.format));
    ok = WriteText(key, L"Size", AnsiText::Widen(choices.size)) && ok;
    ok = WriteText(key, L"Width", choices.width) && ok;
    ok = WriteText(key, L"Height", choices.height) && ok;
    ok = WriteText(key, L"NoEnlarge", choices.noEnlarge ? L"1" : L"0") && ok;
    ok = WriteText(key, L"Quality", std::to_wstring(choices.quality)) && ok;
    ok = WriteText(key, L"IntoFolder", choices.intoFolder ? L"1" : L"0") && ok;
    ok = WriteText(key, L"Folder", choices.folder) && ok;
    RegCloseKey(key);
    return ok;
}

}  // namespace WizardChoices
