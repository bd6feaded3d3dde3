// Host stand-ins for the platform calls that the rule sources reference. The
// registry and COM calls belong to code the host tests never run (that code
// is tested under Wine), so they fail loudly if reached.
#include "PlatformStubs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace PlatformStubs {
bool (*LeadByte)(unsigned char) = nullptr;
ShortPathAnswer ShortPath;
int ShortPathCalls = 0;
}  // namespace PlatformStubs

namespace {
[[noreturn]] void NotOnTheHost(const char* function) {
    std::fprintf(stderr, "%s reached in the host build: that path is tested under Wine\n", function);
    std::abort();
}
}  // namespace

BOOL IsDBCSLeadByte(BYTE testChar) {
    return PlatformStubs::LeadByte && PlatformStubs::LeadByte(testChar) ? TRUE : FALSE;
}

// As the platform documents it: the length without the zero when the buffer
// holds the short form and its zero, else the size needed with the zero, and
// the buffer left alone.
DWORD GetShortPathNameA(LPCSTR, LPSTR shortPath, DWORD bufferSize) {
    ++PlatformStubs::ShortPathCalls;
    const PlatformStubs::ShortPathAnswer& answer = PlatformStubs::ShortPath;
    if (answer.fails) return 0;
    const DWORD length = static_cast<DWORD>(answer.shortPath.size());
    if (length + 1 > bufferSize) return length + 1;
    std::memcpy(shortPath, answer.shortPath.c_str(), length + 1);
    return length;
}

LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD) {
    NotOnTheHost("RegCreateKeyExA");
}
LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) { NotOnTheHost("RegSetValueExA"); }
LONG RegCloseKey(HKEY) { NotOnTheHost("RegCloseKey"); }
LONG RegDeleteKeyA(HKEY, LPCSTR) { NotOnTheHost("RegDeleteKeyA"); }
HRESULT StringFromCLSID(REFCLSID, LPOLESTR*) { NotOnTheHost("StringFromCLSID"); }
void CoTaskMemFree(void*) { NotOnTheHost("CoTaskMemFree"); }
