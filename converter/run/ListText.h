// The list file's bytes as the extension writes them: one path a line in the
// ANSI code page, each line ending in CR LF. Pure: no Windows types.
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

// Why a list is refused as a whole, before anything is converted.
enum class Problem {
    None,
    NotAnsi,       // a byte-order mark, or UTF-16 text (every other byte zero)
    NulInLine,     // a zero byte inside the text
    RelativePath,  // a line that is no full path ("Bilder\a.jpg", "\a.jpg", "C:a.jpg")
    DevicePath,    // a line that names a device ("\\.\PhysicalDrive0", "\\?\GLOBALROOT\...")
};

// The list's bytes as a whole: encoding and zero bytes.
Problem CheckBytes(std::string_view bytes);

// One line (as Lines() gives it): a full path "X:\..." or "\\server\share\...",
// also in the "\\?\X:\..." and "\\?\UNC\..." forms; anything else is refused.
Problem CheckLine(std::string_view line);

}  // namespace ListText
