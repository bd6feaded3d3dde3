#include "untMain/Presets.h"

#include <string>

#include "comserver/Exceptions.h"
#include "settings/Registry.h"
#include "settings/Settings.h"

namespace Presets {

namespace {

// Reads one preset size; false when the store reports the value as broken
// (wrong type, failed fetch).
bool ReadSize(TRegIniFile& settings, const std::string& name, int32_t def, int32_t& size) {
    try {
        size = settings.ReadNumber(Settings::Section, name, def);
        return true;
    } catch (const ERegistryException&) {
        return false;
    }
}

}  // namespace

std::vector<Preset> Offered() {
    std::vector<Preset> offered;
    TRegIniFile settings(Settings::KeyPath);
    for (int n = 1; n <= Settings::PresetCount; ++n) {
        int32_t width = 0;
        int32_t height = 0;
        // Both are read, width first, even when the width already failed.
        const bool widthRead = ReadSize(settings, Settings::SizeXValue(n), Settings::DefaultWidth(n), width);
        const bool heightRead = ReadSize(settings, Settings::SizeYValue(n), Settings::DefaultHeight(n), height);
        if (!widthRead || !heightRead || width == 0 || height == 0) continue;
        offered.push_back(Preset{n, width, height});
    }
    return offered;
}

}  // namespace Presets
