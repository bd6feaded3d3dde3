// IContextMenu::InvokeCommand on selections of 1,000 and 100,000 pictures,
// against the floor of writing the same list file with one CreateFileA,
// WriteFile and CloseHandle, and against every platform call the command
// makes (settings read, write, failing start). INSTDIR_P1 names an existing folder without a
// transform.exe, so the converter's start fails at once; offset 0 (the
// submenu entry) writes the list and starts nothing.
#include "Bench.h"

#include <shellapi.h>

#include <cstdio>

#include "support/SettingsKey.h"

namespace {

using namespace bench;

std::string ListFilePath(const std::string& installDir) {
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetEnvironmentVariableA("temp", temp, sizeof temp);
    std::string dir = length > 0 && length < sizeof temp ? std::string(temp, length) : installDir;
    if (dir.empty() || dir.back() != '\\') dir += '\\';
    return dir + "files.txt";
}

void WriteFloor(const std::string& path, const std::string& text) {
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

LONGLONG FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void ReadInstallDir() {
    HKEY key = nullptr, section = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (RegOpenKeyExA(key, kSettingsSection, 0, KEY_ALL_ACCESS, &section) == ERROR_SUCCESS) {
        DWORD type = 0, size = 0;
        RegQueryValueExA(section, "INSTDIR_P1", nullptr, &type, nullptr, &size);
        size = 0;
        RegQueryValueExA(section, "INSTDIR_P1", nullptr, &type, nullptr, &size);
        BYTE data[MAX_PATH + 1];
        size = sizeof data;
        RegQueryValueExA(section, "INSTDIR_P1", nullptr, &type, data, &size);
        RegCloseKey(section);
    }
    if (key) RegCloseKey(key);
}

void StartConverter(const std::string& converter, const std::string& listPath) {
    const std::string parameters = "\"" + listPath + "\" \"TOJPG\"";
    ShellExecuteA(nullptr, "open", converter.c_str(), parameters.c_str(), nullptr, SW_SHOWDEFAULT);
}

HRESULT RunCommand(const Extension& ext, unsigned offset) {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    info.lpVerb = MAKEINTRESOURCEA(offset);
    info.nShow = SW_SHOWNORMAL;
    return ext.Menu()->InvokeCommand(&info);
}

}  // namespace

namespace sections {

void Invoke(const Options& options) {
    Extension ext;
    if (!ext.Ready()) {
        std::printf("NOTE\tinvoke: cannot create the extension object\n");
        return;
    }
    const std::string installDir = std::string(kRoot) + "noconv";
    CreateDirectoryA(kRoot, nullptr);
    CreateDirectoryA(installDir.c_str(), nullptr);
    DeleteSettingsKey();
    if (!WriteSettingText("INSTDIR_P1", installDir)) std::printf("NOTE\tinvoke: cannot write INSTDIR_P1\n");
    const std::string listPath = ListFilePath(installDir + "\\");
    const std::string converter = installDir + "\\transform.exe";
    std::printf("NOTE\tlist file %s; converter %s (missing: the start fails)\n", listPath.c_str(), converter.c_str());

    for (int count : {1000, 100000}) {
        if (count > options.largest) break;
        const std::vector<std::string> paths = PicturePaths(count);
        FixedDropData data(BuildDropList(paths, false));
        if (ext.Init()->Initialize(nullptr, &data, nullptr) != S_OK) {
            std::printf("NOTE\tinvoke: Initialize failed for %d paths\n", count);
            continue;
        }
        const std::string text = ListText(paths);
        const int runs = count <= 1000 ? 51 : 11;
        const std::string n = count == 1000 ? "1,000" : "100,000";
        for (const unsigned offset : {2u, 0u}) {
            bool failed = false;
            double ours = 0, floor = 0;
            TimePair(
                runs, [&] { failed = RunCommand(ext, offset) != S_OK || failed; }, [&] { WriteFloor(listPath, text); },
                ours, floor);
            RunCommand(ext, offset);
            const LONGLONG written = FileSize(listPath);
            if (failed || written != static_cast<LONGLONG>(text.size()))
                std::printf("NOTE\tinvoke: offset %u: %s, list file %lld bytes, expected %zu\n", offset,
                            failed ? "not S_OK" : "S_OK", written, text.size());
            Emit({"invoke." + std::to_string(count) + (offset ? ".start" : ".nostart"),
                  "InvokeCommand, " + n + " paths, " +
                      (offset ? "offset 2 (TOJPG), failing start" : "offset 0 (list only)"),
                  Milliseconds(ours), Milliseconds(floor), ours / floor, "<= 1.20",
                  Bytes(static_cast<double>(text.size())) + ", runs " + std::to_string(runs)});
            // Every platform call the command has to make: the settings
            // reader's (one key creation, the section opened, the value's
            // size asked twice and its data fetched, both keys closed), the
            // write, and for a command the failing start.
            TimePair(
                runs, [&] { RunCommand(ext, offset); },
                [&] {
                    ReadInstallDir();
                    WriteFloor(listPath, text);
                    if (offset) StartConverter(converter, listPath);
                },
                ours, floor);
            Emit({"invoke." + std::to_string(count) + (offset ? ".start" : ".nostart") + ".full",
                  offset ? "  the same, against settings read, write and failing ShellExecuteA"
                         : "  the same, against settings read and write",
                  Milliseconds(ours), Milliseconds(floor), ours / floor, "<= 1.20", "runs " + std::to_string(runs)});
        }
    }
    // The start the command makes, alone: part of what offset 2 costs above
    // the floor, and not ours to shorten.
    const double start = TimeMedian(51, [&] { StartConverter(converter, listPath); });
    Emit({"invoke.shellexecute", "  ShellExecuteA of the missing converter, alone", Milliseconds(start), "", 0, "",
          "runs 51"});
    DeleteSettingsKey();
    DeleteFileA(listPath.c_str());
    SelectOnePicture(ext);
}

}  // namespace sections
