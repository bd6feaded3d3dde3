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
