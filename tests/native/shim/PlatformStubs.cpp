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

namespace PlatformStubs {

HGLOBAL MakeGlobalBlock(const void* bytes, size_t size) {
    auto* block = new GlobalBlock{new unsigned char[size ? size : 1], size, 0};
    if (size) std::memcpy(block->bytes, bytes, size);
    return block;
}

void FreeGlobalBlock(HGLOBAL memory) {
    auto* block = static_cast<GlobalBlock*>(memory);
    if (!block) return;
    delete[] block->bytes;
    delete block;
}

}  // namespace PlatformStubs

SIZE_T GlobalSize(HGLOBAL memory) {
    return memory ? static_cast<PlatformStubs::GlobalBlock*>(memory)->size : 0;
}

void* GlobalLock(HGLOBAL memory) {
    if (!memory) return nullptr;
    auto* block = static_cast<PlatformStubs::GlobalBlock*>(memory);
    ++block->locks;
    return block->bytes;
}

BOOL GlobalUnlock(HGLOBAL memory) {
    if (!memory) return FALSE;
    auto* block = static_cast<PlatformStubs::GlobalBlock*>(memory);
    if (block->locks <= 0) {
        std::fprintf(stderr, "GlobalUnlock without a matching GlobalLock\n");
        std::abort();
    }
    return --block->locks > 0;
}

// Code page 1252 in miniature: units below 0x100 become their byte, others
// "?". Like the platform, it writes nothing and answers 0 when the output
// does not fit.
int WideCharToMultiByte(UINT, DWORD, const WCHAR* wide, int wideCount, LPSTR out, int outSize, LPCSTR,
                        BOOL* usedDefault) {
    if (usedDefault) *usedDefault = FALSE;
    if (wideCount < 0 || outSize < 0) return 0;
    if (outSize == 0) return wideCount;
    if (wideCount > outSize) return 0;
    for (int i = 0; i < wideCount; ++i) {
        const bool fits = static_cast<unsigned long>(wide[i]) < 0x100;
        out[i] = fits ? static_cast<char>(wide[i]) : '?';
        if (!fits && usedDefault) *usedDefault = TRUE;
    }
    return wideCount;
}

LONG RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD) {
    NotOnTheHost("RegCreateKeyExA");
}
LONG RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) { NotOnTheHost("RegSetValueExA"); }
LONG RegCloseKey(HKEY) { NotOnTheHost("RegCloseKey"); }
LONG RegDeleteKeyA(HKEY, LPCSTR) { NotOnTheHost("RegDeleteKeyA"); }
HRESULT StringFromCLSID(REFCLSID, LPOLESTR*) { NotOnTheHost("StringFromCLSID"); }
void CoTaskMemFree(void*) { NotOnTheHost("CoTaskMemFree"); }
