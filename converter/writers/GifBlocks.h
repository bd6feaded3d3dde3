// A GIF's graphic control block, set in an encoder's bytes. Pure: no Windows
// types.
#pragma once

#include <cstdint>
#include <vector>

namespace GifBlocks {

// Marks palette entry `index` transparent for the first image: in its graphic
// control extension when it has one, else in one put before it. False when
// the bytes are no GIF or end before the first image.
bool SetTransparent(std::vector<uint8_t>& gif, uint8_t index);

}  // namespace GifBlocks
