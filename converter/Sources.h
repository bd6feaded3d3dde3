// From the list's lines to the pictures to work on: each line's path made
// long and full, folders walked (subfolders too), duplicates dropped. All
// sources are collected before the first result is written, so results of
// this run are never taken up again.
#pragma once

#include <string>
#include <vector>

namespace Sources {

struct Source {
    std::wstring path;    // full, with long names (the name results are named after)
    std::wstring folder;  // its folder, without a trailing backslash
    std::wstring name;    // its long file name
};

struct Problem {
    std::wstring path;  // as listed or as found
    std::wstring reason;  // German, for the user
};

struct Collected {
    std::vector<Source> sources;
    std::vector<Problem> problems;
};

// `lines` are the list's lines in the ANSI code page. A file is taken as it
// is (whatever its extension; the readers decide); inside a folder only
// files with one of `pictureExtensions` (lower case, with their dot) count. Folders reached through junctions or
// symbolic links are not entered, so a link loop cannot hang the walk.
Collected Collect(const std::vector<std::string>& lines, const std::vector<std::wstring>& pictureExtensions);

}  // namespace Sources
