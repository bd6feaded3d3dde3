// The list file's bytes as the menus write them: one path a line, each line
// ending in CR LF. The classic menu writes the ANSI code page; the Windows 11
// menu writes UTF-8 after a byte-order mark, so that any name of any length
// arrives whole. Pure: no Windows types.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ListText {

// The lines, without their terminators. CR LF ends a line; so does a lone LF
// (a list written by hand), and the last line may lack one. A CR that is not
// followed by LF is kept: the rest is another program's business to refuse.
// Blank lines and lines of blanks only are left out.
std::vector<std::string> Lines(std::string_view bytes);

}  // namespace ListText

namespace ListText {

enum class Encoding {
    Ansi,  // no byte-order mark: the classic menu's list
    Utf8,  // UTF-8's byte-order mark first
};

// The encoding the list's first bytes declare.
Encoding EncodingOf(std::string_view bytes);

// The text after the byte-order mark, if there is one.
std::string_view Body(std::string_view bytes);

// Why a list is refused as a whole, before anything is converted.
enum class Problem {
    None,
    NotAnsi,       // UTF-16 (its byte-order mark, or every other byte zero)
    NulInLine,     // a zero byte inside the text
    RelativePath,  // a line that is no full path ("Bilder\a.jpg", "\a.jpg", "C:a.jpg")
    DevicePath,    // a line that names a device ("\\.\PhysicalDrive0", "\\?\GLOBALROOT\...")
};

// The list's bytes as a whole (byte-order mark included): encoding and zero bytes.
Problem CheckBytes(std::string_view bytes);

// One line (as Lines() gives it): a full path "X:\..." or "\\server\share\...",
// also in the "\\?\X:\..." and "\\?\UNC\..." forms; anything else is refused.
Problem CheckLine(std::string_view line);

}  // namespace ListText
