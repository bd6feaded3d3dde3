// PostScript Level 2: one A4 page with the picture centred on it, keeping its
// aspect ratio, the pixels ASCII85-encoded behind a DCT (JPEG) or run-length
// filter, with the structuring comments print spoolers read. Pure: no
// Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"
#include "converter/writers/Page.h"

namespace PostScript {

// The whole file for pixels from Page::FromJpeg or Page::FromImage. Empty
// when they hold no picture.
std::vector<uint8_t> Write(const Page::Pixels& pixels);

// ASCII85 with lines of at most 76 characters (77 with the end marker "~>",
// which is never split). A line never begins with '%', so a spooler cannot
// take data for a comment.
std::vector<uint8_t> Ascii85(const std::vector<uint8_t>& bytes);

}  // namespace PostScript
