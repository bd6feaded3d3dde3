// Where a GIF's first frame lies on its logical screen, read from the file's
// own header: the frame a decoder hands over may cover only part of the
// screen, and the picture is the whole screen. Pure: no Windows types.
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

// The screen and the first image descriptor. NotThisFormat for bytes that
// are no GIF, Damaged when the blocks before the first frame are cut short,
// NoPicture when the file ends without one.
ReadResult FirstFrame(const uint8_t* data, size_t size, Layout& layout);

// The frame (decoded, `frame.width` x `frame.height`) at its place on a
// transparent canvas that covers the screen and the frame: a frame reaching
// past a too small screen is not cut. TooLarge beyond request.maxPixels.
ReadResult Compose(const Layout& layout, const Image& frame, const ReadRequest& request, Image& canvas);

}  // namespace Gif
