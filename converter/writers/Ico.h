// A Windows icon file: a directory of images, each either a PNG stream (how
// Windows keeps sizes up to 256 x 256 compactly) or a 32-bit bitmap with
// straight alpha and its AND mask. Also the fitting of a picture into the
// square an icon image is. Pure: no Windows types.
#pragma once

#include <cstdint>
#include <vector>

#include "converter/base/Image.h"

namespace Ico {

constexpr uint32_t MaxSide = 256;

// One image of the icon: `png` when not empty (a PNG stream of a picture
// `width` x `height`), else `bitmap`.
struct Entry {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> png;
    Image bitmap;
};

// The size a picture is scaled to so that it fits into a square of `side`
// with its aspect ratio: the long side `side`, the short one rounded, at
// least 1.
void FitInto(uint32_t width, uint32_t height, uint32_t side, uint32_t& fittedWidth, uint32_t& fittedHeight);

// `fitted` centred on a transparent square of `side` (left and top margins
// the smaller where the rest is odd). `fitted` must not be larger.
Image OnSquare(const Image& fitted, uint32_t side);

// The whole file, entries in the given order. Empty when there is none, or
// one is larger than 256 on a side, empty, or not what its size says.
std::vector<uint8_t> Write(const std::vector<Entry>& entries);

}  // namespace Ico
