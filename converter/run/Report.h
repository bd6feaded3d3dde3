// What the user learns at the end of a run: nothing when every picture was
// converted (the window just closes), else a summary of what was skipped and
// why. The same text goes to the standard error handle when the caller gave
// one (scripts, tests), as UTF-8.
#pragma once

#include <string>
#include <vector>

#include "converter/pipeline/Pipeline.h"
#include "converter/run/Sources.h"

namespace Report {

struct Summary {
    size_t converted = 0;
    size_t skipped = 0;      // sources and listed paths that gave no result
    size_t notReached = 0;   // left out by a cancel
    bool cancelled = false;
    std::vector<std::wstring> results;  // full paths
    std::vector<Sources::Problem> problems;
    // Kept "in their own format", which we do not write: how many of each
    // kind were written as which format instead, in the order first met.
    struct Substituted {
        std::wstring from, to;
        size_t count = 0;
    };
    std::vector<Substituted> substituted;
    // Converted, but not whole: the path and what was missing.
    std::vector<Sources::Problem> incomplete;
};

Summary Summarize(const Sources::Collected& collected, const std::vector<Pipeline::Outcome>& outcomes,
                  bool cancelled);

// The summary's text: counts, then one line a picture converted incomplete
// and one a problem ("<path>: <reason>"). At most `maxProblems` lines of
// each; the rest are counted.
std::wstring Text(const Summary& summary, size_t maxProblems);

// Writes the summary to standard error; shows it in a message box when
// anything was skipped or converted incomplete, or the run was cancelled.
void Tell(const Summary& summary);

// A run that does not start: the message box and standard error.
void Refusal(const std::wstring& message);

}  // namespace Report
