// What a converter token asks for, as a Job: a conversion into one format,
// or a resize to one of the presets the menu shows.
#pragma once

#include <string>

#include "converter/pipeline/Job.h"
#include "settings/Registry.h"

namespace Request {

enum class Status {
    Ready,         // `job` is set
    Wizard,        // "TOXXX": the dialog
    Unknown,       // no such token
    NotWritable,   // a format this build cannot write yet
    BadPreset,     // a preset whose size is zero, negative or unreadable
};

struct Parsed {
    Status status = Status::Unknown;
    Job job;
    std::wstring message;  // German, for every status but Ready and Wizard
};

// Preset n's width and height as the menu reads them: the user's values,
// else the menu's defaults. False when a value cannot be read (wrong type).
bool ReadPresetSize(TRegIniFile& settings, int n, int32_t& width, int32_t& height);

// Reads the preset's size from the user's settings for "RS_<n>", with the
// menu's defaults; never writes them.
Parsed FromToken(const std::string& token);

}  // namespace Request
