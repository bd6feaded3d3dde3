#include "converter/run/Request.h"

#include "comserver/Exceptions.h"
#include "converter/pipeline/Naming.h"
#include "untMain/CommandTable.h"
#include "settings/AnsiText.h"
#include "settings/Settings.h"

namespace Request {

namespace {

// 1 .. 10 for the tokens of the menu's presets, 0 for anything else.
int PresetNumber(const std::string& token) {
    for (CommandOffset offset = FirstPresetOffset; offset < CommandCount; ++offset)
        if (token == CommandTable::ConverterTokenOf(offset)) return CommandTable::PresetNumberOf(offset);
    return 0;
}

Parsed Preset(int n) {
    Parsed parsed;
    int32_t width = 0, height = 0;
    TRegIniFile settings(Settings::KeyPath);
    if (!ReadPresetSize(settings, n, width, height)) {
        parsed.status = Status::BadPreset;
        parsed.message = L"Die Gr\u00f6\u00dfe der Voreinstellung " + std::to_wstring(n) +
                         L" kann nicht aus den Einstellungen gelesen werden. Es wurde nichts ge\u00e4ndert.";
        return parsed;
    }
    if (width <= 0 || height <= 0) {
        parsed.status = Status::BadPreset;
        parsed.message = L"Die Gr\u00f6\u00dfe " + std::to_wstring(width) + L"x" + std::to_wstring(height) +
                         L" der Voreinstellung " + std::to_wstring(n) +
                         L" ist ung\u00fcltig: Breite und H\u00f6he m\u00fcssen gr\u00f6\u00dfer als 0 sein. "
                         L"Es wurde nichts ge\u00e4ndert.";
        return parsed;
    }
    parsed.status = Status::Ready;
    parsed.job.box = {static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
    parsed.job.tag = Naming::SizeTag(width, height);
    return parsed;
}

}  // namespace

bool ReadPresetSize(TRegIniFile& settings, int n, int32_t& width, int32_t& height) {
    try {
        width = settings.ReadNumber(Settings::Section, Settings::SizeXValue(n), Settings::DefaultWidth(n));
        height = settings.ReadNumber(Settings::Section, Settings::SizeYValue(n), Settings::DefaultHeight(n));
        return true;
    } catch (const ERegistryException&) {
        return false;
    }
}

Parsed FromToken(const std::string& token) {
    Parsed parsed;
    if (token == "TOXXX") {
        parsed.status = Status::Wizard;
        return parsed;
    }
    if (const int n = PresetNumber(token)) return Preset(n);
    if (const FormatInfo* format = Formats::ByToken(token)) {
        if (!format->encode) {
            parsed.status = Status::NotWritable;
            parsed.message = L"In das " + std::wstring(format->name) +
                             L" Format kann in dieser Version noch nicht umgewandelt werden.";
            return parsed;
        }
        parsed.status = Status::Ready;
        parsed.job.format = format;
        return parsed;
    }
    parsed.status = Status::Unknown;
    const std::wstring shown = AnsiText::Widen(std::string_view(token).substr(0, 40));
    parsed.message = L"Der Auftrag \u201e" + shown + L"\u201c ist unbekannt.";
    return parsed;
}

}  // namespace Request
