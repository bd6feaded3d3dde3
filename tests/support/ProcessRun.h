// Runs a program to its end and reads back what it printed.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

struct ProcessResult {
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;   // false: still running at the deadline, and ended by force
    std::string out;         // UTF-8, as printed
    std::string err;
};

// Starts the program with `args`, the current environment with `overrides`
// (name, value; an empty value removes the variable), and waits at most
// `timeoutMs` for it to end.
ProcessResult RunProgram(const std::wstring& program, const std::vector<std::wstring>& args,
                         const std::vector<std::pair<std::wstring, std::wstring>>& overrides,
                         const std::wstring& scratchDir, DWORD timeoutMs = 120000);

// The argument quoted so that a Windows program's command-line parser (and
// Wine's, for a host program) gives it back whole: backslashes count only
// before a quote.
std::wstring QuoteArgument(const std::wstring& arg);

std::string Utf8FromWide(const std::wstring& text);
