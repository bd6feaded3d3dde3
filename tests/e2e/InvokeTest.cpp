// Choosing an entry: what reaches the converter, read three ways: the host's
// report, the list file the extension wrote, and the converter's own log.
#include <gtest/gtest.h>

#include "ShellHostFixture.h"

namespace {

class ShellHostInvoke : public ShellHostFixture {
protected:
    // The paths of the sample folder that the extension accepts, in Explorer's order.
    static std::vector<std::wstring> AcceptedPictures() {
        std::vector<std::wstring> paths;
        for (const std::wstring& name : Pictures())
            if (name != L"Notiz.txt") paths.push_back(PicturesDir() + L"\\" + name);
        return paths;
    }

    static std::string CommandLineFor(const char* token) {
        return "\"" + Ansi(InstallDir()) + "\\transform.exe\" \"" + Ansi(TempDir()) + "\\files.txt\" \"" + token +
               "\"";
    }
};

TEST_F(ShellHostInvoke, PngConversionHandsTheSelectionToTheConverter) {
    HostResult host = Host({L"--all", PicturesDir(), L"--choose", L"in das PNG Format konvertieren"});
    ASSERT_TRUE(host.finished);
    ASSERT_EQ(host.exitCode, 0u) << host.err << host.out;
    EXPECT_NE(host.out.find("choosing \"in das PNG Format konvertieren\" (identifier 12, offset 11)"),
              std::string::npos)
        << host.out;
    EXPECT_NE(host.out.find("InvokeCommand: 0x00000000 S_OK"), std::string::npos) << host.out;

    const std::vector<std::wstring> accepted = AcceptedPictures();
    const std::string expectedList = ListFileOf(accepted);
    // The extension's own file, byte for byte: 8-bit paths ("Größe" as F6 DF), CR LF.
    EXPECT_EQ(ListFileBytes(), expectedList);
    EXPECT_NE(expectedList.find("Gr\xF6\xDF" "e.gif\r\n"), std::string::npos);

    // What the converter was started with and read.
    std::vector<TransformLog::Run> runs = ConverterRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Field("CMDLINE"), CommandLineFor("TOPNG"));
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOPNG");
    EXPECT_EQ(runs[0].Field("LIST"), expectedList);

    // The host reports exactly that.
    EXPECT_EQ(ValueAfter(host.out, "converter command line"), Utf8FromWide(WideFromAnsi(CommandLineFor("TOPNG"))));
    std::vector<std::string> reported = ParseListLines(host.out);
    ASSERT_EQ(reported.size(), accepted.size()) << host.out;
    for (size_t i = 0; i < accepted.size(); ++i) EXPECT_EQ(reported[i], Utf8FromWide(accepted[i]));
    EXPECT_NE(host.out.find("list file as the converter read it: 5 line(s), " + std::to_string(expectedList.size()) +
                            " bytes, each ending in CR LF"),
              std::string::npos)
        << host.out;
}

TEST_F(ShellHostInvoke, EntriesChosenByOffsetIdentifierOrCaptionCarryTheirTokens) {
    struct Case {
        std::vector<std::wstring> choice;
        const char* token;
    };
    const Case cases[] = {
        {{L"--offset", L"1"}, "TOXXX"},
        {{L"--offset", L"16"}, "RS_1"},
        {{L"--id", L"9"}, "TOJPEG2000CS"},
        {{L"--choose", L"JPEG2000 (CodeStream)"}, "TOJPEG2000CS"},
        {{L"--choose", L"1280x1024"}, "RS_5"},
        {{L"--choose", L"in das pdf format"}, "TOPDF"},
        {{L"--choose", L"neue Gr\u00F6\u00DFe 800x600 Pixel"}, "RS_1"},
    };
    size_t runsBefore = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.choice[0] + L" " + c.choice[1]));
        std::vector<std::wstring> args = {PicturesDir() + L"\\Blumen.png"};
        args.insert(args.end(), c.choice.begin(), c.choice.end());
        HostResult host = Host(args);
        ASSERT_EQ(host.exitCode, 0u) << host.err << host.out;
        EXPECT_EQ(ValueAfter(host.out, "token argument"), c.token);
        std::vector<TransformLog::Run> runs = ConverterRuns();
        ASSERT_EQ(runs.size(), runsBefore + 1);
        EXPECT_EQ(runs.back().Field("TOKEN"), c.token);
        EXPECT_EQ(runs.back().Field("LIST"), ListFileOf({PicturesDir() + L"\\Blumen.png"}));
        runsBefore = runs.size();
    }
}

TEST_F(ShellHostInvoke, ExplicitSelectionKeepsItsOrder) {
    const std::vector<std::wstring> picked = {PicturesDir() + L"\\Skizze.bmp", PicturesDir() + L"\\Urlaub",
                                              PicturesDir() + L"\\Notiz.txt", PicturesDir() + L"\\Blumen.png"};
    std::vector<std::wstring> args = picked;
    args.push_back(L"--choose");
    args.push_back(L"GIF");
    HostResult host = Host(args);
    ASSERT_EQ(host.exitCode, 0u) << host.err << host.out;
    EXPECT_EQ(ListFileBytes(), ListFileOf({picked[0], picked[1], picked[3]}));
    std::vector<TransformLog::Run> runs = ConverterRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOGIF");
    EXPECT_EQ(runs[0].Field("LIST"), ListFileOf({picked[0], picked[1], picked[3]}));
}

}  // namespace
