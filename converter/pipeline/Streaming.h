// The streamed path of one picture: rows go from the decoder through the
// resampler to the encoder and on into the result's temporary file, so that
// a worker holds a band of rows, not the picture. Taken when the reader,
// the writer and the work allow it (a JPEG, a non-interlaced PNG or a TIFF
// of strips as stored, upright, its colours left as they are; a JPEG, PNG
// or TIFF result). A PNG's or TIFF's rows may instead be gathered into the
// (resized) result for any other writer. Every other picture takes the whole-picture path,
// which gives the same bytes where both can run.
#pragma once

#include <string_view>

#include "converter/pipeline/Pipeline.h"
#include "converter/readers/Readers.h"

namespace Streaming {

enum class Taken {
    No,         // the whole-picture path is to take it: nobody was asked, nothing taken
    Done,       // converted, or skipped: `outcome` says which
    Collected,  // read and resized into `collected`, within what was admitted: the
                // whole-picture path writes it (a writer that needs the whole result)
};

// Converts the source when the streamed path can take it.
Taken Convert(const Job& job, const Sources::Source& source, const Pipeline::Admit& admit,
              Pipeline::Outcome& outcome, Readers::Picture& collected);

// The peak in bytes of the streamed path for a JPEG decoded at `decoded`
// (libjpeg holding `decoderBytes`) into a `result` of that format token;
// UINT64_MAX when it does not fit this build's size_t.
uint64_t Peak(PixelSize decoded, uint64_t decoderBytes, PixelSize result, std::string_view token);

// Off: every picture takes the whole-picture path. For the test build,
// which compares the two paths' results.
void Enable(bool on);

}  // namespace Streaming
