// What the converter received, read back from the stand-in converter's log.
#pragma once

#include <string>

#include "tools/transformlog/TransformLog.h"

class ConverterLog {
public:
    // The log named on the command line, else by the variable the stand-in
    // reads, else transform.log in the install directory of the suite's settings.
    static std::string Locate(const std::string& given);

    explicit ConverterLog(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Remembers how many runs the log holds now, so that Wait sees only new ones.
    void Mark();
    // Polls until a run newer than the mark is logged or `timeoutMs` pass.
    bool Wait(unsigned timeoutMs, TransformLog::Run& run);

private:
    std::string path_;
    size_t seen_ = 0;
};

// Prints the converter's command line, its arguments and the list file it read.
void PrintConverterRun(const TransformLog::Run& run);
