// The path rules behind the registered server path, without touching a disk:
// the walk is fed a table of what FindFirstFileA would find.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "comserver/RegistrationHelpers.h"

namespace {

TEST(PathDirectory, DropsTheLastComponentAndItsBackslash) {
    EXPECT_EQ(PathDirectory("C:\\Windows\\System"), "C:\\Windows");
    EXPECT_EQ(PathDirectory("C:\\PROGRA~1\\Suite\\ext.dll"), "C:\\PROGRA~1\\Suite");
    EXPECT_EQ(PathDirectory("\\\\server\\share\\dir"), "\\\\server\\share");
}

TEST(PathDirectory, KeepsTheBackslashOfARootOrAfterAnother) {
    EXPECT_EQ(PathDirectory("C:\\Windows"), "C:\\");
    EXPECT_EQ(PathDirectory("C:\\"), "C:\\");  // no shorter: the walk must stop on it
    EXPECT_EQ(PathDirectory("\\\\server"), "\\\\");
    EXPECT_EQ(PathDirectory("C:\\dir\\\\file"), "C:\\dir\\\\");
}

TEST(PathDirectory, StopsAtADriveColonAndKnowsNoDelimiter) {
    EXPECT_EQ(PathDirectory("C:file.dll"), "C:");
    EXPECT_EQ(PathDirectory("file.dll"), "");
    EXPECT_EQ(PathDirectory(""), "");
    EXPECT_EQ(PathDirectory("\\file.dll"), "");  // a lone leading backslash follows nothing
}

TEST(PathDrivePart, DriveLetterUncShareOrNothing) {
    EXPECT_EQ(PathDrivePart("C:\\"), "C:");
    EXPECT_EQ(PathDrivePart("z:\\work\\x.dll"), "z:");
    EXPECT_EQ(PathDrivePart("\\\\server\\share"), "\\\\server\\share");
    EXPECT_EQ(PathDrivePart("\\\\server\\share\\dir\\x.dll"), "\\\\server\\share");
    EXPECT_EQ(PathDrivePart("\\\\server"), "\\\\server");
    EXPECT_EQ(PathDrivePart("\\dir\\x.dll"), "");
    EXPECT_EQ(PathDrivePart("x.dll"), "");
    EXPECT_EQ(PathDrivePart(""), "");
}

// A disk as FindFirstFileA sees it: the long name of every path it can find.
struct FakeDisk {
    explicit FakeDisk(std::map<std::string, std::string> names = {}) : longNames(std::move(names)) {}
    std::map<std::string, std::string> longNames;
    std::vector<std::string> lookedUp;
    LongNameLookup Lookup() {
        return [this](const std::string& path, std::string& name) {
            lookedUp.push_back(path);
            const auto it = longNames.find(path);
            if (it == longNames.end()) return false;
            name = it->second;
            return true;
        };
    }
};

TEST(LongPathByWalk, ShortComponentsBecomeLongUpToTheDriveRoot) {
    FakeDisk disk({{"C:\\PROGRA~1\\Suite\\ext.dll", "ext.dll"},
                   {"C:\\PROGRA~1\\Suite", "Suite"},
                   {"C:\\PROGRA~1", "Program Files"}});
    EXPECT_EQ(LongPathByWalk("C:\\PROGRA~1\\Suite\\ext.dll", disk.Lookup()),
              "C:\\Program Files\\Suite\\ext.dll");
    // The walk ends on the root, which FindFirstFileA cannot find.
    EXPECT_EQ(disk.lookedUp.back(), "C:\\");
    EXPECT_EQ(disk.lookedUp.size(), 4u);
}

TEST(LongPathByWalk, UncPathKeepsServerAndShare) {
    FakeDisk disk({{"\\\\srv\\share\\LONGFO~1\\QUENNE~1.DLL", "QuennelExt.dll"},
                   {"\\\\srv\\share\\LONGFO~1", "Long Folder"}});
    EXPECT_EQ(LongPathByWalk("\\\\srv\\share\\LONGFO~1\\QUENNE~1.DLL", disk.Lookup()),
              "\\\\srv\\share\\Long Folder\\QuennelExt.dll");
}

TEST(LongPathByWalk, UncShareThatCanBeFoundIsNotDoubled) {
    FakeDisk disk({{"\\\\srv\\share\\x.dll", "x.dll"}, {"\\\\srv\\share", "share"}});
    EXPECT_EQ(LongPathByWalk("\\\\srv\\share\\x.dll", disk.Lookup()), "\\\\srv\\share\\x.dll");
}

TEST(LongPathByWalk, MissingFileLeavesOnlyTheDrivePart) {
    FakeDisk disk;
    EXPECT_EQ(LongPathByWalk("C:\\gone\\x.dll", disk.Lookup()), "C:");
    EXPECT_EQ(disk.lookedUp.size(), 1u);
}

TEST(LongPathByWalk, ARootThatCanBeFoundEndsTheWalk) {
    // Should a lookup ever succeed on a root, the path does not shrink any
    // more; the walk must not ask for it forever.
    FakeDisk disk({{"C:\\x.dll", "x.dll"}, {"C:\\", "C"}});
    EXPECT_EQ(LongPathByWalk("C:\\x.dll", disk.Lookup()), "C:\\C\\x.dll");
    EXPECT_EQ(disk.lookedUp.size(), 2u);
}

TEST(ThreadingModelName, RegisteredNamesAndNoneForSingle) {
    EXPECT_STREQ(ThreadingModelName(tmSingle), "");
    EXPECT_STREQ(ThreadingModelName(tmApartment), "Apartment");
    EXPECT_STREQ(ThreadingModelName(tmFree), "Free");
    EXPECT_STREQ(ThreadingModelName(tmBoth), "Both");
    EXPECT_STREQ(ThreadingModelName(tmNeutral), "Neutral");
}

}  // namespace
