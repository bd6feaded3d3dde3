// Steering of the host stand-ins for the platform calls of the rule sources.
#pragma once

#include <windows.h>

#include <string>

namespace PlatformStubs {

// The lead bytes of the "system's" ANSI code page; nullptr for single-byte.
extern bool (*LeadByte)(unsigned char);

// What GetShortPathNameA answers: the short form to report, or failure.
struct ShortPathAnswer {
    bool fails = false;
    std::string shortPath;
};
extern ShortPathAnswer ShortPath;
extern int ShortPathCalls;

// A global memory block as the host sees one: an HGLOBAL is a pointer to
// this record, whose bytes are an exactly sized heap block of their own, so
// that AddressSanitizer reports any read beyond the block's size.
struct GlobalBlock {
    unsigned char* bytes;
    size_t size;
    int locks;
};
HGLOBAL MakeGlobalBlock(const void* bytes, size_t size);
void FreeGlobalBlock(HGLOBAL block);

}  // namespace PlatformStubs
