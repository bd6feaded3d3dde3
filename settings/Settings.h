// Where the suite keeps its settings, and the values this module reads.
#pragma once

#include <string>

namespace Settings {

constexpr char KeyPath[] = "Software\\Vardel Software\\Brindlework";  // below HKEY_CURRENT_USER
constexpr char Section[] = "SETUP";
constexpr char InstallDirValue[] = "INSTDIR_P1";
constexpr int PresetCount = 10;

std::string SizeXValue(int preset);  // "SIZEX1" .. "SIZEX10"
std::string SizeYValue(int preset);  // "SIZEY1" .. "SIZEY10"
int DefaultWidth(int preset);        // 800, 1024, 1152, 1280, 1280, then 0
int DefaultHeight(int preset);       // 600, 768, 864, 720, 1024, then 0

}  // namespace Settings
