// Which paths name pictures the converter can read: a matter of the path's
// extension alone. Pure rules on 8-bit text, no file-system access.
#pragma once

#include <cstddef>
#include <string_view>

namespace ImageExtensions {

// Tells whether a byte starts a double-byte character of the ANSI code page
// the text is in; nullptr for a single-byte code page.
using LeadByteTest = bool (*)(unsigned char byte);

constexpr size_t AcceptedCount = 39;
// Each a dot and lower-case ASCII letters or digits.
extern const std::string_view AcceptedExtensions[AcceptedCount];

// The extension of `path`: from its last ".", "\" or ":" to the end when that
// byte is a dot, dot included; empty when the last of them is "\" or ":" or
// there is none. The second byte of a double-byte character is never taken
// for one of the three, so `isLeadByte` decides how the text is walked.
std::string_view PathExtension(std::string_view path, LeadByteTest isLeadByte);

// True when `extension`, with A-Z lower-cased (no other byte touched, no
// locale), equals one of AcceptedExtensions over its whole length.
bool IsAcceptedExtension(std::string_view extension);

// PathExtension and IsAcceptedExtension in one.
bool HasAcceptedExtension(std::string_view path, LeadByteTest isLeadByte);

}  // namespace ImageExtensions
