// The stage for driving shellhost.exe: the extension registered as an
// installer registers it, the stand-in converter installed as transform.exe in
// an install directory named by INSTDIR_P1, a folder of pictures to
// right-click, and a TEMP of the test's own for the list file. Everything is
// removed again afterwards: the Wine prefix is shared by all test programs.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "HostRun.h"
#include "tools/transformlog/TransformLog.h"

class ShellHostFixture : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Runs shellhost.exe with TEMP pointing at TempDir().
    HostResult Host(const std::vector<std::wstring>& args);

    static std::wstring Root();          // everything of this test program
    static std::wstring InstallDir();    // transform.exe and its log
    static std::wstring TempDir();       // TEMP of the host: files.txt goes here
    static std::wstring PicturesDir();   // the sample tree (see Pictures below)
    // A folder of `count` items named bild0001 ... (every seventh a .txt file,
    // the rest .png), made on first use.
    static std::wstring ManyDir(size_t count);

    // The names in PicturesDir, in Explorer's order (folders first, then by name).
    static const std::vector<std::wstring>& Pictures();

    // The list file as the extension wrote it; the log of the converter.
    std::string ListFileBytes() const;
    std::vector<TransformLog::Run> ConverterRuns() const;

    static bool RegisterExtension();
    static bool UnregisterExtension();

private:
    static std::string setupError_;
    static bool approvedBefore_;
};

// "C:\dir\name" as the extension hands it on: 8-bit ANSI bytes.
std::string Ansi(const std::wstring& text);
// The list file the extension writes for these paths: each then CR LF.
std::string ListFileOf(const std::vector<std::wstring>& paths);
