// The streamed path of one picture: rows go from the decoder through the
// resampler to the encoder and on into the result's temporary file, so that
// a worker holds a band of rows, not the picture. Taken when the reader,
// the writer and the work allow it (a JPEG source as stored, upright, its
// colours left as they are; a JPEG, PNG or TIFF result); every other picture
// takes the whole-picture path, which gives the same bytes where both can run.
#pragma once

#include <string_view>

#include "converter/pipeline/Pipeline.h"

namespace Streaming {

// Converts the source when the streamed path can take it: true with
// `outcome` set. False, having asked nobody and taken nothing, when the
// whole-picture path is to take it.
bool Convert(const Job& job, const Sources::Source& source, const Pipeline::Admit& admit,
             Pipeline::Outcome& outcome);

// The peak in bytes of the streamed path for a JPEG decoded at `decoded`
// (libjpeg holding `decoderBytes`) into a `result` of that format token;
// UINT64_MAX when it does not fit this build's size_t.
uint64_t Peak(PixelSize decoded, uint64_t decoderBytes, PixelSize result, std::string_view token);

// Off: every picture takes the whole-picture path. For the test build,
// which compares the two paths' results.
void Enable(bool on);

}  // namespace Streaming
