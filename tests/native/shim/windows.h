// Just enough of <windows.h> for the byte-rule sources to compile on the
// build host, under the sanitizers. Only declarations: the platform calls the
// rules' neighbours make are defined in PlatformStubs.cpp, where the tests
// can steer the few they drive (the code page, GetShortPathNameA).
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = unsigned char;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using UINT = unsigned int;
using BOOL = int;
using UINT_PTR = uintptr_t;
using ULONG_PTR = uintptr_t;
using HRESULT = int32_t;
using REGSAM = DWORD;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;

using WCHAR = wchar_t;  // 4 bytes on the host, 2 on Windows: see shim/PlatformStubs.h
using SIZE_T = size_t;
using HANDLE = void*;
using HGLOBAL = HANDLE;
struct HBITMAP__;
using HBITMAP = HBITMAP__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
struct POINT {
    LONG x;
    LONG y;
};

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using CLSID = GUID;
using REFCLSID = const CLSID&;

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260
#define WINAPI
#define STDMETHODIMP HRESULT

#define S_OK ((HRESULT)0)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFu)
#define E_INVALIDARG ((HRESULT)0x80070057u)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)

#define GCS_VERBA 0x0
#define GCS_HELPTEXTA 0x1
#define GCS_VALIDATEA 0x2

#define ERROR_SUCCESS 0L
#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000u)
#define REG_OPTION_NON_VOLATILE 0
#define REG_SZ 1
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006

#define CP_ACP 0

BOOL IsDBCSLeadByte(BYTE testChar);
SIZE_T GlobalSize(HGLOBAL memory);
void* GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideCount, LPSTR out, int outSize,
                        LPCSTR defaultChar, BOOL* usedDefault);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                     REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegCloseKey(HKEY key);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
void CoTaskMemFree(void* memory);
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferSize);
