// Selections larger than Explorer hands a handler for the menu: the chosen
// entry must still reach the converter with every selected picture.
#include <gtest/gtest.h>

#include "ShellHostFixture.h"

namespace {

class ShellHostMultiSelection : public ShellHostFixture, public ::testing::WithParamInterface<size_t> {};

TEST_P(ShellHostMultiSelection, WholeSelectionReachesTheConverterInOrder) {
    const size_t count = GetParam();
    const std::wstring dir = ManyDir(count);
    std::vector<std::wstring> accepted;
    for (size_t i = 1; i <= count; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"\\bild%04u.png", static_cast<unsigned>(i));
        if (i % 7 != 0) accepted.push_back(dir + name);
    }

    HostResult host = Host({L"--all", dir, L"--choose", L"in das BMP Format"});
    ASSERT_TRUE(host.finished);
    ASSERT_EQ(host.exitCode, 0u) << host.err << host.out;
    EXPECT_NE(host.out.find("selection: " + std::to_string(count) + " item(s)"), std::string::npos) << host.out;

    const bool twoInstances = count > 16;
    EXPECT_EQ(host.out.find("the menu is built from the first 16 of " + std::to_string(count) + " items") !=
                  std::string::npos,
              twoInstances)
        << host.out;
    EXPECT_EQ(host.out.find("InvokeCommand (second instance): 0x00000000 S_OK") != std::string::npos, twoInstances)
        << host.out;
    if (twoInstances) {
        // The handler gives no canonical verb, so the entry is found again by caption.
        EXPECT_NE(host.out.find("found by caption and position"), std::string::npos) << host.out;
        EXPECT_NE(host.out.find("second instance: \"in das BMP Format konvertieren\" at identifier 5 (offset 4)"),
                  std::string::npos)
            << host.out;
    }
    // The menu itself was built as for any selection.
    EXPECT_EQ(ParseMenu(host.out).size(), 21u);

    const std::string expected = ListFileOf(accepted);
    EXPECT_EQ(ListFileBytes(), expected);
    std::vector<TransformLog::Run> runs = ConverterRuns();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Field("TOKEN"), "TOBMP");
    EXPECT_EQ(runs[0].Field("LIST"), expected);
    EXPECT_EQ(ParseListLines(host.out).size(), accepted.size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShellHostMultiSelection, ::testing::Values(16, 17, 1000),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return "Items" + std::to_string(info.param);
                         });

}  // namespace
