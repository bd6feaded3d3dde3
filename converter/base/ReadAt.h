// How a reader that goes back and forth in a file is handed it: the file on
// disk (the streamed path) or its bytes in memory (the whole-picture path,
// the fuzzers) alike. Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Reads up to `size` bytes of the file at `offset`; how many it got.
using ReadAt = std::function<size_t(uint64_t offset, uint8_t* into, size_t size)>;
