// Windows metafiles: enhanced (.emf) and placeable or plain Windows
// metafiles (.wmf), played by the platform's GDI into a 32-bit bitmap the
// size of the picture frame at 96 dots an inch, at most MaxSide pixels on the
// long side. What the drawing leaves untouched stays transparent: it is
// played twice, onto white and onto black, and a pixel that differs between
// the two is as transparent as the difference says.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/readers/Reader.h"

namespace Metafile {

constexpr uint32_t MaxSide = 4096;

bool IsEmf(const uint8_t* head, size_t size);
bool IsWmf(const uint8_t* head, size_t size);

// Either kind; NotThisFormat for bytes of neither.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Metafile
