// The formats the converter writes, one row each: the token that asks for it,
// the extension of its results and the encoder that makes its bytes.
// Adding a format touches its encoder's file and one row of the table in
// Formats.cpp.
#pragma once

#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "converter/base/Image.h"
#include "converter/writers/EncodeOptions.h"

struct FormatInfo {
    std::string_view token;         // the converter token, e.g. "TOPNG"
    const wchar_t* extension;       // of the results, e.g. L".png"
    const wchar_t* name;            // for messages, e.g. L"PNG"
    bool keepsAlpha;                // false: transparent pixels go onto white first
    Encoder encode;                 // nullptr: not writable in this build
};

namespace Formats {

// All formats, in the menu's order.
const std::vector<FormatInfo>& All();
// The format a conversion token asks for; nullptr when none does.
const FormatInfo* ByToken(std::string_view token);
// The format whose results a WIC container of that GUID matches, for keeping a
// source's format; nullptr when no writable format does.
const FormatInfo* ByContainer(const GUID& container);
// True when the format's files carry the ICC colour profile `icc`; the
// pixels of the others are converted into sRGB, which is what a viewer
// assumes without one. A JP2 file labels only the profiles its own colour
// methods know (a grey or three-colour matrix profile): the general ICC
// method belongs to the extended file format, which OpenJPEG and the readers
// built on it ignore, showing the pixels as sRGB.
bool KeepsProfile(const FormatInfo& format, const std::vector<uint8_t>& icc);

}  // namespace Formats
