// The 26 commands of the submenu, each known by its offset from idCmdFirst.
#pragma once

#include <string>

using CommandOffset = unsigned int;

constexpr CommandOffset CommandCount = 26;       // valid offsets are 0 .. 25
constexpr CommandOffset FirstPresetOffset = 16;  // preset n has offset 15 + n

enum class CommandKind { None, Submenu, Wizard, Conversion, ResizePreset };

namespace CommandTable {

CommandKind KindOf(CommandOffset offset);
// The fixed caption; nullptr for a resize preset (see PresetNumberOf) and for
// offsets of 26 and above.
const char* CaptionOf(CommandOffset offset);
// 1 .. 10 for a resize preset, 0 for every other offset.
int PresetNumberOf(CommandOffset offset);
// nullptr ("none") for offset 0 and for offsets of 26 and above.
const char* HelpTextOf(CommandOffset offset);
const char* ConverterTokenOf(CommandOffset offset);

// "neue Größe <W>x<H> Pixel", both numbers in signed decimal.
std::string PresetCaption(int width, int height);

}  // namespace CommandTable
