#include "settings/Settings.h"

namespace Settings {

namespace {
const int kWidths[PresetCount] = {800, 1024, 1152, 1280, 1280, 0, 0, 0, 0, 0};
const int kHeights[PresetCount] = {600, 768, 864, 720, 1024, 0, 0, 0, 0, 0};
}  // namespace

std::string SizeXValue(int preset) { return "SIZEX" + std::to_string(preset); }
std::string SizeYValue(int preset) { return "SIZEY" + std::to_string(preset); }

int DefaultWidth(int preset) {
    return preset >= 1 && preset <= PresetCount ? kWidths[preset - 1] : 0;
}

int DefaultHeight(int preset) {
    return preset >= 1 && preset <= PresetCount ? kHeights[preset - 1] : 0;
}

}  // namespace Settings
