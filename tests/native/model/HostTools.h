// The build host's own image programs as independent judges of the files the
// writers make: ImageMagick, Ghostscript and poppler read them from a
// temporary file and hand back raw pixels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace HostTools {

// A file in the temporary folder that is removed again.
class TempFile {
public:
    TempFile(const std::vector<uint8_t>& bytes, const std::string& suffix) {
        char name[] = "/tmp/quennel-writer-XXXXXX";
        const int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        std::remove(name);
        path_ = std::string(name) + suffix;
        std::ofstream(path_, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline bool Have(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// What the command writes to its standard output; nullopt when it fails.
// Its standard error goes to `errors` when given, else it is dropped.
inline std::optional<std::vector<uint8_t>> Output(const std::string& command, std::string* errors = nullptr) {
    const std::string errorFile = "/tmp/quennel-writer-stderr-" + std::to_string(getpid());
    FILE* pipe = popen((command + " 2>" + errorFile).c_str(), "r");
    if (!pipe) return std::nullopt;
    std::vector<uint8_t> out;
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + got);
    const int status = pclose(pipe);
    if (errors) {
        std::ifstream in(errorFile, std::ios::binary);
        errors->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::remove(errorFile.c_str());
    if (status != 0) return std::nullopt;
    return out;
}

// A binary PPM (P6, maxval 255) as RGB bytes.
struct Rgb {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(uint32_t x, uint32_t y) const { return rgb.data() + (size_t{y} * width + x) * 3; }
};

inline std::optional<Rgb> ParsePpm(const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    auto token = [&]() {
        std::string text;
        while (at < bytes.size()) {
            const char ch = static_cast<char>(bytes[at]);
            if (ch == '#') {
                while (at < bytes.size() && bytes[at] != '\n') ++at;
            } else if (ch == ' ' || ch == '\n' || ch == '\r' || ch == '\t') {
                ++at;
                if (!text.empty()) break;
            } else {
                text += ch;
                ++at;
            }
        }
        return text;
    };
    if (token() != "P6") return std::nullopt;
    Rgb image;
    image.width = static_cast<uint32_t>(std::strtoul(token().c_str(), nullptr, 10));
    image.height = static_cast<uint32_t>(std::strtoul(token().c_str(), nullptr, 10));
    if (token() != "255") return std::nullopt;
    const size_t size = size_t{image.width} * image.height * 3;
    if (bytes.size() - at != size) return std::nullopt;
    image.rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at), bytes.end());
    return image;
}

}  // namespace HostTools
