// What one run of the converter is asked to do, however it was asked: by a
// menu entry's token or by the wizard.
#pragma once

#include <string>

#include "converter/pipeline/Formats.h"
#include "converter/base/Geometry.h"

struct Job {
    // The format of the results; nullptr keeps each source's format where it
    // can be written, PNG otherwise.
    const FormatInfo* format = nullptr;
    // The box results are fitted into keeping their aspect ratio; {0, 0}
    // leaves the size alone.
    PixelSize box;
    bool enlarge = false;
    // Part of each result's name after the source's stem: " (800x600)".
    std::wstring tag;
    int jpegQuality = 90;
    // Where results go; empty puts each next to its source.
    std::wstring folder;
};
