// Converts one picture: read it, turn it upright, fit it, write it in its
// format and move the result into place. The worker processes (run/Workers)
// call it for one source at a time; the progress it reports is shared with
// the window that observes the run.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "converter/pipeline/Job.h"
#include "converter/run/Sources.h"

namespace Pipeline {

// What the window (or nobody) observes while the workers run.
struct Progress {
    std::atomic<size_t> done{0};  // sources finished, converted or not
    std::atomic<size_t> total{0};  // known once the sources are collected
    std::atomic<bool> cancel{false};  // set by the user; workers stop before their next source

    void SetCurrent(const std::wstring& name);
    std::wstring Current() const;

private:
    mutable std::mutex mutex_;
    std::wstring current_;
};

struct Outcome {
    bool converted = false;
    bool started = false;  // false: not reached before a cancel
    std::wstring result;   // the result's full path when converted
    std::wstring reason;   // German, when not converted
    // Kept "in its own format", which we do not write: the source's kind
    // and the format written instead (L"Kamera-Rohdaten", L"JPEG"); empty
    // otherwise.
    std::wstring substituteFrom, substituteTo;
    // German, when converted but not whole (the source was cut short).
    std::wstring remark;
};

// A picture started but not converted, for `reason` (German): what every
// path that converts or supervises a picture reports.
Outcome Failed(std::wstring reason);

// Whether a result of that size may be held whole: within the pixel limit
// the readers keep, at 4 bytes a pixel in this build's size_t.
bool ResultFits(PixelSize size);

// Asked once a picture's stored size is known, before the memory for
// decoding, turning, resizing and encoding it is taken, with the bytes that
// work holds at its peak: false skips it for lack of memory. Lets the worker
// processes share one memory budget. Readers that cannot say before
// decoding are asked for afterwards.
using Admit = std::function<bool(PixelSize decoded, uint64_t bytes)>;

// Converts one source; used by the workers and usable alone.
Outcome ConvertOne(IWICImagingFactory* wic, const Job& job, const Sources::Source& source,
                   const Admit& admit = nullptr);

}  // namespace Pipeline
