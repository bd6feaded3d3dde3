#include "untMain/CommandTable.h"

namespace {

struct Command {
    CommandKind kind;
    const char* caption;
    const char* helpText;
    const char* token;
};

// The texts are code page 1252 bytes: E4 ä, F6 ö, FC ü, DF ß. Their small
// differences (JPG/JPEG, the missing "in das" at offset 8, "Grafikdateienn"
// at offset 16) are the suite's own wording and stay as they are.
#define RESIZE_HELP "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateien."
#define CONVERSION(fmt, helpFmt, token) \
    {CommandKind::Conversion, "in das " fmt " Format konvertieren", \
     "Gew\xE4hlte Grafikdateien in das " helpFmt " Format konvertieren.", token}
#define PRESET(token) {CommandKind::ResizePreset, nullptr, RESIZE_HELP, token}

const Command kCommands[CommandCount] = {
    {CommandKind::Submenu, "Grafikformat \xE4ndern", nullptr, nullptr},
    {CommandKind::Wizard, "Vardel Quennel Wizard",
     "Grafikformat f\xFCr gew\xE4hlte Grafikdateien \xE4ndern.", "TOXXX"},
    CONVERSION("JPG", "JPEG", "TOJPG"),
    CONVERSION("GIF", "GIF", "TOGIF"),
    CONVERSION("BMP", "Bitmap", "TOBMP"),
    CONVERSION("RLE", "RLE", "TORLE"),
    CONVERSION("DIB", "DIB", "TODIB"),
    CONVERSION("JPEG2000", "JPEG2000", "TOJPEG2000"),
    {CommandKind::Conversion, "in das JPEG2000 (CodeStream) Format konvertieren",
     "Gew\xE4hlte Grafikdateien JPEG2000 (CodeStream) Format konvertieren.", "TOJPEG2000CS"},
    CONVERSION("TIFF", "TIFF", "TOTIFF"),
    CONVERSION("PCX", "PCX", "TOPCX"),
    CONVERSION("PNG", "PNG", "TOPNG"),
    CONVERSION("ICO", "ICO", "TOICO"),
    CONVERSION("WBMP", "WBMP", "TOWBMP"),
    CONVERSION("PS", "PS", "TOPS"),
    CONVERSION("PDF", "PDF", "TOPDF"),
    {CommandKind::ResizePreset, nullptr,
     "Gr\xF6\xDF" "e \xE4ndern f\xFCr gew\xE4hlte Grafikdateienn.", "RS_1"},
    PRESET("RS_2"), PRESET("RS_3"), PRESET("RS_4"), PRESET("RS_5"),
    PRESET("RS_6"), PRESET("RS_7"), PRESET("RS_8"), PRESET("RS_9"), PRESET("RS_10"),
};

#undef PRESET
#undef CONVERSION
#undef RESIZE_HELP

}  // namespace

namespace CommandTable {

CommandKind KindOf(CommandOffset offset) {
    return offset < CommandCount ? kCommands[offset].kind : CommandKind::None;
}

const char* CaptionOf(CommandOffset offset) {
    return offset < CommandCount ? kCommands[offset].caption : nullptr;
}

int PresetNumberOf(CommandOffset offset) {
    return KindOf(offset) == CommandKind::ResizePreset ? static_cast<int>(offset) - 15 : 0;
}

const char* HelpTextOf(CommandOffset offset) {
    return offset < CommandCount ? kCommands[offset].helpText : nullptr;
}

const char* ConverterTokenOf(CommandOffset offset) {
    return offset < CommandCount ? kCommands[offset].token : nullptr;
}

std::string PresetCaption(int width, int height) {
    return "neue Gr\xF6\xDF" "e " + std::to_string(width) + "x" + std::to_string(height) + " Pixel";
}

}  // namespace CommandTable
