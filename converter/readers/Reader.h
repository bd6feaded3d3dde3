// How a format reader is called. The readers of our own take the whole file
// as bytes and know no Windows types, so they compile, test and fuzz
// natively; the platform's readers (WIC, GDI) answer in the same terms
// (converter/base/Decoded.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/base/Decoded.h"

// A reader of our own: the whole file in `data`. Decides by the content
// whether the bytes are its format (NotThisFormat when not), checks every
// bound before it allocates, and never throws.
using ByteReader = ReadResult (*)(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);
