// From the list's lines to the pictures to work on: each line's path made
// long and full, folders walked (subfolders too), duplicates dropped by what
// the file system knows them by (volume and file ID), not by their paths. All
// sources are collected before the first result is written, so results of
// this run are never taken up again. Where the volume gives no real file ID
// (WebDAV, some NAS drives report 0), the full path stands in for it.
#pragma once

#include <atomic>
#include <functional>
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

// `paths` are the list's lines, as text. A file is taken as it
// is (whatever its extension; the readers decide); inside a folder only
// files with one of the extensions `pictureExtensions` gives (lower case,
// with their dot) count. It is asked once, when the first folder is walked:
// finding what the platform decodes costs a start of its imaging component.
// Junctions and symbolic links inside a folder are not entered (a link loop
// cannot hang the walk) and are named among the problems; other reparse
// points (cloud placeholders) are. A listed folder without any picture is a
// problem of its own. `cancel`, when given and set, stops the walk.
Collected Collect(const std::vector<std::wstring>& paths,
                  const std::function<std::vector<std::wstring>()>& pictureExtensions,
                  const std::atomic<bool>* cancel = nullptr);

}  // namespace Sources
