// Runs shellhost.exe as a user would from a console and reads back what it
// printed: the menu tree, the converter's command line and the list file.
#pragma once

#include <windows.h>

#include "support/ProcessRun.h"
#include "support/TestFiles.h"

#include <string>
#include <utility>
#include <vector>

using HostResult = ProcessResult;

// One line of the printed menu tree.
struct MenuLine {
    int depth = 0;            // 0: the top menu, 1: its submenus
    unsigned id = 0;
    int offset = -1;          // -1 when no handler owns the identifier
    std::string caption;      // UTF-8
    bool bitmap = false;
    bool submenu = false;
    bool hasHelp = false;     // a help text was given ...
    std::string help;         // ... and this is it (UTF-8); else `helpNone` holds the reason
    std::string helpNone;
};

std::vector<MenuLine> ParseMenu(const std::string& out);
// The lines printed under "list file as the converter read it".
std::vector<std::string> ParseListLines(const std::string& out);
// The text after "<label>: " on the first line that starts with it, or "".
std::string ValueAfter(const std::string& out, const std::string& label);

std::string Utf8FromCp1252(const std::string& bytes);
std::wstring WideFromUtf8(const std::string& text);
std::string AnsiFromWide(const std::wstring& text);
