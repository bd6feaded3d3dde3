// 100,000 selected paths go through Initialize, the list file and the real
// start of the converter stand-in, which copies the list file into its log:
// what the converter read must be every accepted path, in order, byte for
// byte (compared by hash and length).
#include "Reliability.h"
#include "tools/transformlog/TransformLog.h"

namespace {

const char* const kExtensions[] = {".jpg", ".TIF", ".Png", ".bmp", ".jpeg", ".gif", ".pspimage", ".tiff", ".J2K"};

std::vector<std::string> ManyPaths(size_t count, size_t& accepted, std::string& acceptedBytes) {
    std::vector<std::string> paths;
    paths.reserve(count);
    accepted = 0;
    acceptedBytes.clear();
    char name[96];
    for (size_t i = 0; i < count; ++i) {
        // One in ten is a text file the extension leaves out.
        const char* ext = i % 10 == 9 ? ".txt" : kExtensions[i % 9];
        std::snprintf(name, sizeof name, "C:\\Bilder\\Serie_%03u\\IMG_%06u%s", static_cast<unsigned>(i / 1000),
                      static_cast<unsigned>(i), ext);
        paths.emplace_back(name);
        if (i % 10 != 9) {
            ++accepted;
            acceptedBytes += name;
            acceptedBytes += "\r\n";
        }
    }
    return paths;
}

// The stand-in's records, polled (bounded) until `count` are there.
std::vector<TransformLog::Run> WaitForRuns(const std::string& log, size_t count) {
    const ULONGLONG start = GetTickCount64();
    std::vector<TransformLog::Run> runs;
    while (GetTickCount64() - start < 90000) {
        if (TransformLog::Read(log, runs) && runs.size() >= count) return runs;
        Sleep(50);
    }
    return runs;
}

TEST(HandOffAtScale, HundredThousandPathsReachTheConverterWhole) {
    ExtensionHost host("scale");
    ASSERT_TRUE(host.Ready());
    size_t accepted = 0;
    std::string expected;
    const std::vector<std::string> paths = ManyPaths(111112, accepted, expected);
    ASSERT_GE(accepted, 100000u);

    const std::string log = host.InstallDir() + TransformLog::FileName;
    ScopedEnvironment logPlace(TransformLog::PathVariable, log.c_str());  // inherited by the converter

    Meter meter;
    const ULONGLONG t0 = GetTickCount64();
    ASSERT_EQ(host.Select(paths), S_OK);
    const ULONGLONG t1 = GetTickCount64();
    Spy::startConverter = true;
    ASSERT_EQ(host.Invoke(2), S_OK);
    const ULONGLONG t2 = GetTickCount64();
    const std::vector<TransformLog::Run> runs = WaitForRuns(log, 1);
    const ULONGLONG t3 = GetTickCount64();
    meter.Stop();
    ASSERT_EQ(runs.size(), 1u) << "transform.exe did not record its run";

    std::string onDisk;
    ASSERT_TRUE(ReadWholeFile(host.ListFile(), onDisk));
    const std::string handed = runs[0].Field("LIST");
    EXPECT_EQ(onDisk.size(), expected.size());
    EXPECT_EQ(Fnv1a(onDisk), Fnv1a(expected)) << "the list file is not the accepted paths";
    EXPECT_EQ(handed.size(), expected.size());
    EXPECT_EQ(Fnv1a(handed), Fnv1a(expected)) << "the converter read another list";
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOJPG");
    EXPECT_EQ(runs[0].Field("LISTPATH"), host.ListFile());
    EXPECT_LE(meter.HandleGrowth(), 4);

    char result[400];
    std::snprintf(result, sizeof result,
                  "%zu accepted reached the converter whole: %.1f MiB, FNV-1a %016llX equal on disk and in the "
                  "converter; Initialize %llu ms, InvokeCommand %llu ms, converter's record after %llu ms",
                  accepted, expected.size() / 1048576.0, static_cast<unsigned long long>(Fnv1a(expected)),
                  t1 - t0, t2 - t1, t3 - t2);
    AddFigure({"hand-off of 111,112 selected paths", paths.size(), result, meter.Text()});
}

}  // namespace
