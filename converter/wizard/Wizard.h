// The "Vardel Quennel Wizard": a dialog in which the user chooses what the
// menu's other entries do in one click (a format, a preset size) and what
// they cannot (keeping each format, a size of their own, JPEG quality, one
// folder for all results). Its answer is a Job for the same pipeline.
#pragma once

#include <string>
#include <vector>

#include "converter/pipeline/Job.h"

namespace Wizard {

enum class Answer {
    Start,      // OK: `job` is filled in and the choices are remembered
    Cancelled,  // Cancel, Escape or the close box: nothing is to be written
    NoDialog,   // no dialog could be shown (no desktop)
};

// `paths` are the list's lines, for telling how many pictures and folders
// were chosen.
Answer Choose(const std::vector<std::wstring>& paths, Job& job);

}  // namespace Wizard
