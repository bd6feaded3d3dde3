// How a help text goes into the shell's buffer.
#pragma once

#include <cstddef>

// Copies the zero-terminated `text` into `buffer` of `bufferSize` bytes and
// returns the number of bytes written, its zero included. A text longer than
// the buffer is cut to bufferSize - 1 bytes followed by a zero; a buffer of
// size 0 gets nothing. Nothing is ever written at or beyond bufferSize.
// `buffer` may be null only when bufferSize is 0.
size_t CopyHelpText(const char* text, char* buffer, size_t bufferSize) noexcept;
