// The encoder's bytes with the source's metadata put in by `embed` (a pure
// function of the bytes, converter/metadata/): the same result whichever
// encoder wrote them, and whatever metadata interfaces it has.
#pragma once

#include <utility>
#include <vector>

#include "converter/writers/EncodeOptions.h"

template <class Embed>
HRESULT WithMetadata(const EncodeOptions& options, HRESULT encoded, std::vector<uint8_t>& out, Embed embed) {
    if (FAILED(encoded) || !options.metadata) return encoded;
    std::vector<uint8_t> with = embed(out, *options.metadata);
    if (with.empty()) return WINCODEC_ERR_BADIMAGE;  // our own encoder's bytes are always readable
    out = std::move(with);
    return S_OK;
}
