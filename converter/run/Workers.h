// The converter as a supervisor of worker processes. Every codec the
// platform has installed (camera RAW, HEIC, WebP packs of any vendor) and
// every reader of our own runs inside the process that decodes, and any of
// them may crash, hang or eat all memory on one hostile file. So the
// transform.exe the extension starts only reads the list, collects the
// sources, shows the progress and the summary; the pictures are converted by
// copies of itself in a worker mode, one a core, one picture at a time.
//
// A worker that crashes, or that takes longer than its picture's time limit,
// is ended and replaced; a crashed worker's picture is tried once more in a
// fresh worker, then skipped with a German reason, and the others go on.
// Every picture ends converted, skipped with its reason, or (after a cancel)
// counted as not reached. The workers sit in a job object that ends them when the
// supervisor ends, however it ends. Once a worker has read a picture, and
// before it takes the memory to turn, resize and encode it, it asks the
// supervisor, which keeps one memory budget for all of them; a picture that
// still runs out of memory is tried once more alone, after the others.
#pragma once

#include <vector>

#include "converter/pipeline/Job.h"
#include "converter/pipeline/Pipeline.h"
#include "converter/run/Sources.h"

namespace Workers {

// The worker mode's command line: transform.exe --quennel-worker. One
// argument, where the extension always passes two, so that no list and no
// token can ever start it; and it serves only a pipe it was handed.
bool IsWorkerCommandLine(int count, wchar_t** args);

// The worker mode: reads the job and then one picture after another from
// standard input (the supervisor's pipe), answers on standard output, and
// returns when the supervisor closes the pipe. Started by hand (standard
// input no pipe), it returns 2 at once.
int WorkerMain();

// One outcome a source, in the sources' order, as Pipeline::Run gives them.
// `workers` 0 takes one a core.
std::vector<Pipeline::Outcome> Run(const Job& job, const std::vector<Sources::Source>& sources,
                                   Pipeline::Progress& progress, unsigned workers = 0);

}  // namespace Workers
