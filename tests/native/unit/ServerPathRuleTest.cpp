// The rules that turn the module's file name into the registered server
// path, against their definitions: the directory cut, the drive part, the
// long-name walk over a table of names, and the short form's buffer.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "comserver/RegistrationHelpers.h"
#include "model/ReferenceModels.h"
#include "shim/PlatformStubs.h"

namespace {

TEST(ServerPathRule, DocumentedDirectoryCuts) {
    EXPECT_EQ(PathDirectory("C:\\Windows\\System"), "C:\\Windows");
    EXPECT_EQ(PathDirectory("C:\\Windows"), "C:\\");
    EXPECT_EQ(PathDrivePart("C:\\Program Files\\Suite\\ext.dll"), "C:");
    EXPECT_EQ(PathDrivePart("\\\\srv\\share\\Suite\\ext.dll"), "\\\\srv\\share");
}

// Every path of up to six bytes over the bytes that matter.
TEST(ServerPathRule, DirectoryAndDriveAgreeWithTheModelOnEveryShortPath) {
    const std::string alphabet = "\\:Ca.";
    size_t checked = 0;
    for (size_t length = 0; length <= 6; ++length) {
        std::vector<size_t> digit(length, 0);
        for (;;) {
            std::string path(length, ' ');
            for (size_t i = 0; i < length; ++i) path[i] = alphabet[digit[i]];
            const std::string directory = PathDirectory(path);
            ASSERT_EQ(directory, Model::Directory(path)) << "path \"" << path << "\"";
            ASSERT_EQ(path.compare(0, directory.size(), directory), 0) << "not a prefix";
            ASSERT_EQ(PathDrivePart(path), Model::DrivePart(path)) << "path \"" << path << "\"";
            ++checked;
            size_t i = 0;
            while (i < length && ++digit[i] == alphabet.size()) digit[i++] = 0;
            if (i == length) break;
        }
    }
    EXPECT_EQ(checked, 19531u);
}

// The walk ends on any disk: even one where every lookup succeeds (a root
// that FindFirstFileA would find, a path that does not get shorter).
TEST(ServerPathRule, WalkEndsWhenEveryLookupSucceeds) {
    for (const std::string path : {"C:\\", "C:", "\\\\", "\\", "x", "C:\\a\\\\b", "\\\\srv\\share\\a",
                                   "C:\\a\\b\\c\\d\\e\\f\\g\\h\\i\\j\\k\\l\\m\\n\\o\\p\\q\\r\\s\\t"}) {
        size_t lookups = 0;
        const std::string result = LongPathByWalk(path, [&](const std::string& p, std::string& name) {
            ++lookups;
            name = "L" + std::to_string(p.size());
            return lookups < 10000;
        });
        EXPECT_LE(lookups, path.size() + 1) << path;
        EXPECT_LT(result.size(), 10 * (path.size() + 2)) << path;
    }
}

TEST(ServerPathRule, LongNamesReplaceShortOnesUpToTheRoot) {
    const std::map<std::string, std::string> disk = {
        {"C:\\PROGRA~1\\Suite\\ext.dll", "ext.dll"},
        {"C:\\PROGRA~1\\Suite", "Suite"},
        {"C:\\PROGRA~1", "Program Files"}};
    const auto lookup = [&](const std::string& p, std::string& name) {
        const auto it = disk.find(p);
        if (it == disk.end()) return false;
        name = it->second;
        return true;
    };
    EXPECT_EQ(LongPathByWalk("C:\\PROGRA~1\\Suite\\ext.dll", lookup), "C:\\Program Files\\Suite\\ext.dll");
}

// The short form comes through a 260-byte buffer: answers of every length
// around it are taken whole or not at all, and never read past.
TEST(ServerPathRule, ShortFormOfEveryLengthAroundTheBuffer) {
    const std::string longPath = "C:\\Program Files\\Suite\\ext.dll";
    EXPECT_EQ(RegisteredServerPath("C:\\Suite\\ext.dll"), "C:\\Suite\\ext.dll");  // no blank: no call
    for (size_t length : {1u, 2u, 100u, 258u, 259u, 260u, 261u, 262u, 1000u, 40000u}) {
        PlatformStubs::ShortPath = {false, std::string(length, 'S')};
        const std::string got = RegisteredServerPath(longPath);
        if (length < MAX_PATH)
            EXPECT_EQ(got, PlatformStubs::ShortPath.shortPath) << length;
        else
            EXPECT_EQ(got, longPath) << "a short form that does not fit is not half taken: " << length;
    }
    PlatformStubs::ShortPath = {true, ""};
    EXPECT_EQ(RegisteredServerPath(longPath), longPath);
    PlatformStubs::ShortPath = {};
}

}  // namespace
