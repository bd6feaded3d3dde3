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

}  // namespace PlatformStubs
