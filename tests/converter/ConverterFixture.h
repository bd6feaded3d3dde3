// Runs the real transform.exe on pictures made by the host's ImageMagick and
// judges its results with the host's decoders (identify, compare), never with
// the converter's own code. Wine starts host programs by their path from the
// root; a Windows path becomes the host's through Wine's own mapping.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ProcessRun.h"
#include "support/TestFiles.h"

class ConverterFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh folder of this test's own, without a trailing backslash.
    const std::wstring& Dir() const { return dir_; }
    std::wstring At(const std::wstring& name) const { return dir_ + L"\\" + name; }

    // Writes the list (each path in the ANSI code page, CR LF) and runs the
    // converter with it and `token` to its end.
    ProcessResult Convert(const std::vector<std::wstring>& paths, const std::string& token);
    // The converter with exactly these arguments, and these environment
    // variables set (name, value) besides the test's own.
    ProcessResult RunConverter(const std::vector<std::wstring>& args,
                               const std::vector<std::pair<std::wstring, std::wstring>>& environment = {});
    static std::wstring ConverterPath();
    // The list file the converter is handed (ListPath()).
    void WriteList(const std::vector<std::wstring>& paths);
    std::wstring ListPath() const { return At(L"files.txt"); }

    // A shell command line on the host; its output and exit code.
    static ProcessResult Host(const std::string& command);
    // The host's path of a Windows path, single-quoted for the shell.
    static std::string Unix(const std::wstring& windowsPath);
    // Makes a picture with ImageMagick: `recipe` is what comes before the
    // output path on its command line ("-size 97x61 gradient:red-blue").
    static void MakePicture(const std::wstring& path, const std::string& recipe);
    // "PNG 97x61", as identify sees the file's first frame; empty when it cannot.
    static std::string Identify(const std::wstring& path);
    // compare's figure of the two files' pixels by `metric` (AE, PSNR);
    // -1 when compare fails. PSNR of identical pictures reads as "inf": 1e9.
    static double Compare(const std::wstring& a, const std::wstring& b, const char* metric);

    // The names in the folder, sorted; hidden ones too.
    std::vector<std::wstring> Names(const std::wstring& folder) const;
    static std::string Bytes(const std::wstring& path);
    // Writes exactly these bytes to a new file.
    static bool WriteNewFile(const std::wstring& path, const std::string& bytes);

private:
    static void RemoveFolder(const std::wstring& folder);
    std::wstring dir_;
};
