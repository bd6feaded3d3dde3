// GIF: the first frame, decoded by giflib, at its place on the logical
// screen. Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/base/Image.h"
#include "converter/readers/Reader.h"

namespace Gif {

struct Layout {
    uint32_t screenWidth = 0;  // the logical screen
    uint32_t screenHeight = 0;
    uint32_t left = 0;  // the first frame's place and size on it
    uint32_t top = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// The screen and the first image descriptor, from the file's own bytes.
// NotThisFormat for bytes that are no GIF, Damaged when the blocks before
// the first frame are cut short, NoPicture when the file ends without one.
ReadResult FirstFrame(const uint8_t* data, size_t size, Layout& layout);

// The first frame on a transparent canvas that covers the screen and the
// frame (a frame reaching past a too small screen is not cut), interlaced
// or not, its transparent colour transparent. Without any colour table the
// frame is read in greys (see Gif.cpp). TooLarge beyond request.maxPixels,
// checked before giflib sees the frame.
ReadResult Read(const uint8_t* data, size_t size, const ReadRequest& request, Decoded& out);

}  // namespace Gif
