// The server path rules against their definitions. Byte 0 sets the fake
// disk (lookups of paths longer than it succeed), bytes 1-2 the length of
// the short form GetShortPathNameA reports; the rest is the module path.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "comserver/RegistrationHelpers.h"
#include "model/ReferenceModels.h"
#include "shim/PlatformStubs.h"
#include "tests/native/fuzz/FuzzFail.h"

namespace {
// The long name a fake disk gives: the last component, upper-cased, tagged.
std::string FakeLongName(const std::string& path) {
    const size_t cut = path.find_last_of("\\:");
    std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return name + "~L";
}

// The walk as defined: long names from the file upwards while the lookup
// finds one, the working path cut to its directory each time, on while it is
// longer than 2 characters (and shrinking), then the drive part in front.
std::string ModelWalk(const std::string& path, size_t threshold) {
    std::string result;
    std::string working = path;
    while (working.size() > threshold) {
        result = "\\" + FakeLongName(working) + result;
        const std::string directory = Model::Directory(working);
        const bool shorter = directory.size() < working.size();
        working = directory;
        if (!shorter || working.size() <= 2) break;
    }
    return Model::DrivePart(working) + result;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const size_t threshold = data[0] % 16;
    const size_t shortLength = (data[1] | (data[2] << 8)) % 600;
    const std::string path(reinterpret_cast<const char*>(data + 3), size - 3);

    const std::string directory = PathDirectory(path);
    if (directory != Model::Directory(path)) Fail("PathDirectory differs from the model");
    if (PathDrivePart(path) != Model::DrivePart(path)) Fail("PathDrivePart differs from the model");

    size_t lookups = 0;
    const std::string walked = LongPathByWalk(path, [&](const std::string& p, std::string& name) {
        if (++lookups > path.size() + 2) Fail("the walk does not end");
        if (p.size() <= threshold) return false;
        name = FakeLongName(p);
        return true;
    });
    if (walked != ModelWalk(path, threshold)) Fail("LongPathByWalk differs from the model");

    PlatformStubs::ShortPath = {shortLength == 0, std::string(shortLength, '~')};
    const std::string registered = RegisteredServerPath(path);
    const bool blank = path.find(' ') != std::string::npos;
    const bool fits = shortLength != 0 && shortLength < MAX_PATH;
    if (registered != (blank && fits ? PlatformStubs::ShortPath.shortPath : path))
        Fail("RegisteredServerPath differs from the rule");
    return 0;
}
