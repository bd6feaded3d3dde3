// The byte rules of carrying out a command: where the list file goes and what
// the converter is handed. Pure functions over 8-bit ANSI strings; the caller
// reads the platform (settings, environment, code page) and passes it in.
#pragma once

#include <string>
#include <string_view>

namespace ListFile {

// True for a byte that starts a double-byte character in the code page in use.
using LeadBytePredicate = bool (*)(unsigned char);

// The lead bytes of the system's ANSI code page (none for a single-byte one).
bool IsAnsiLeadByte(unsigned char byte);

// True when the text's last character is a backslash. Under a double-byte
// code page a final 5C that is the trail byte of a double-byte character is
// not a backslash, so the characters are walked from the start.
bool EndsWithBackslash(std::string_view text, LeadBytePredicate isLeadByte);

// The text with a backslash appended unless its last character is one.
std::string WithTrailingBackslash(std::string_view text, LeadBytePredicate isLeadByte);

constexpr char FileName[] = "files.txt";
constexpr char ConverterName[] = "transform.exe";

// The list file's path: the "temp" directory when it is not empty, else the
// install directory (which already ends in a backslash).
std::string ListFilePath(std::string_view tempValue, std::string_view installDir,
                         LeadBytePredicate isLeadByte);

// The converter program: the install directory followed by its name, no quotes.
std::string ConverterPath(std::string_view installDir);

// "<list file>" "<token>" with nothing before, between or after; nothing in
// the path is escaped.
std::string ConverterParameters(std::string_view listFilePath, std::string_view token);

// A system message without its trailing control characters, blanks and
// periods, as it goes into a sentence of our own.
std::string TrimMessageTail(std::string_view message);

}  // namespace ListFile
