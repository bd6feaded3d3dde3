#include "Text.h"

#include <cstdio>
#include <vector>

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size,
                            nullptr, nullptr);
    return out;
}

std::string AnsiFromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring WideFromCodePage(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], size);
    return out;
}

std::wstring WideFromUtf8(const std::string& text) { return WideFromCodePage(text, CP_UTF8); }

std::string HresultText(HRESULT hr) {
    char code[16];
    snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    const char* name = nullptr;
    switch (hr) {
    case S_OK: name = "S_OK"; break;
    case S_FALSE: name = "S_FALSE"; break;
    case E_FAIL: name = "E_FAIL"; break;
    case E_INVALIDARG: name = "E_INVALIDARG"; break;
    case E_NOTIMPL: name = "E_NOTIMPL"; break;
    case E_NOINTERFACE: name = "E_NOINTERFACE"; break;
    case E_UNEXPECTED: name = "E_UNEXPECTED"; break;
    case E_OUTOFMEMORY: name = "E_OUTOFMEMORY"; break;
    case E_POINTER: name = "E_POINTER"; break;
    case REGDB_E_CLASSNOTREG: name = "REGDB_E_CLASSNOTREG"; break;
    case CLASS_E_CLASSNOTAVAILABLE: name = "CLASS_E_CLASSNOTAVAILABLE"; break;
    case CO_E_DLLNOTFOUND: name = "CO_E_DLLNOTFOUND"; break;
    case CO_E_ERRORINDLL: name = "CO_E_ERRORINDLL"; break;
    default: break;
    }
    return name ? std::string(code) + " " + name : std::string(code);
}

static std::wstring Lower(const std::wstring& text) {
    std::wstring out(text);
    if (!out.empty()) CharLowerBuffW(&out[0], static_cast<DWORD>(out.size()));
    return out;
}

bool ContainsNoCase(const std::wstring& haystack, const std::wstring& needle) {
    return Lower(haystack).find(Lower(needle)) != std::wstring::npos;
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) { return Lower(a) == Lower(b); }

// A console converts what WriteFile hands it from its own code page; give it
// wide text instead. Pipes and files get the UTF-8 bytes unchanged.
static void Write(DWORD which, const std::string& utf8) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty()) return;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        std::wstring wide = WideFromUtf8(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    size_t done = 0;
    while (done < utf8.size()) {
        DWORD written = 0;
        if (!WriteFile(handle, utf8.data() + done, static_cast<DWORD>(utf8.size() - done), &written, nullptr) ||
            written == 0)
            return;
        done += written;
    }
}

void Out(const std::string& utf8) { Write(STD_OUTPUT_HANDLE, utf8); }
void Err(const std::string& utf8) { Write(STD_ERROR_HANDLE, utf8); }
