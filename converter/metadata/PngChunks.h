// Metadata in a PNG file's chunks: pHYs (resolution), eXIf, iTXt with the XMP
// packet, iCCP (the ICC profile, zlib-compressed). Read from a source's bytes
// and put into an encoder's bytes after the header, in place of whatever
// chunks of those kinds the encoder wrote. Pure: no Windows types.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/base/Decoded.h"
#include "converter/base/ReadAt.h"

namespace PngChunks {

// Fills the resolution, the Exif block and the XMP packet (an uncompressed
// iTXt); the profile is compressed and left to a reader that inflates. False
// when the bytes are no PNG.
bool Read(const uint8_t* data, size_t size, Metadata& out);

// The same from a file of `size` bytes, without reading its pixel data:
// the chunks Read takes are gathered first, wherever they lie (also after
// the pixels), and `held` receives their bytes. False when one is over
// `maxChunk` bytes, all of them over `maxAll`, or a read fails.
bool Read(const ReadAt& readAt, uint64_t size, size_t maxChunk, size_t maxAll, Metadata& out, size_t& held);

// `png` with `metadata`'s chunks after its header. The profile goes into
// stored (uncompressed) deflate blocks, which every zlib reader takes, and
// replaces the encoder's sRGB, gAMA and cHRM, which would contradict it.
// Empty when `png` is no PNG.
std::vector<uint8_t> Embed(const std::vector<uint8_t>& png, const Metadata& metadata);

// The CRC-32 PNG and zlib's gzip use, over `size` bytes, continued from `crc`.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

}  // namespace PngChunks
