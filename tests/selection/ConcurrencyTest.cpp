// Several apartment threads capture selections while others read the list,
// as when two Explorer windows of one process are right-clicked at once.
#include "selection/SelectionFixture.h"

#include <atomic>
#include <thread>

#include "untMain/ModuleState.h"

namespace {

using Concurrency = InProcessTest;

std::vector<std::string> SelectionOf(int writer, int size) {
    std::vector<std::string> paths;
    for (int i = 0; i < size; ++i) {
        paths.push_back("C:\\Hammer\\w" + std::to_string(writer) + "\\Bild " + std::to_string(i) + ".png");
    }
    return paths;
}

}  // namespace

TEST_F(Concurrency, ReadersSeeOneWholeSelectionWhileWritersReplaceIt) {
    const int sizes[] = {1, 17, 90, 240};
    constexpr int kWriters = 4;
    constexpr int kReaders = 2;
    constexpr int kRounds = 60;

    std::vector<std::vector<std::string>> selections;
    std::vector<std::string> texts;
    for (int w = 0; w < kWriters; ++w) {
        selections.push_back(SelectionOf(w, sizes[w]));
        texts.push_back(ListText(selections.back()));
    }
    {
        DropDataObject first(selections[0]);
        ASSERT_EQ(S_OK, CaptureInProcess(&first));
    }

    std::atomic<int> writersLeft{kWriters};
    std::atomic<int> failedCalls{0};
    std::atomic<int> torn{0};
    std::atomic<long> observations{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            ComApartment apartment;
            // Half narrow, half wide: both readers of the drop list run side by side.
            std::vector<std::wstring> wide;
            for (const auto& p : selections[w]) wide.push_back(Widen(p));
            DropDataObject narrowData(selections[w]);
            DropDataObject wideData(wide);
            for (int r = 0; r < kRounds; ++r) {
                if (CaptureInProcess(r % 2 ? &wideData : &narrowData) != S_OK) ++failedCalls;
            }
            if (narrowData.OutstandingMedia() || wideData.OutstandingMedia()) ++failedCalls;
            --writersLeft;
        });
    }
    for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&] {
            do {
                const std::string seen = SelectionText();
                bool whole = false;
                for (const auto& t : texts) whole = whole || seen == t;
                if (!whole) ++torn;
                ++observations;
            } while (writersLeft > 0);
        });
    }
    for (auto& t : threads) t.join();

    EXPECT_EQ(0, failedCalls);
    EXPECT_EQ(0, torn) << "of " << observations << " observations";
    EXPECT_GT(observations, 0);
    bool whole = false;
    for (const auto& t : texts) whole = whole || SelectionText() == t;
    EXPECT_TRUE(whole);
    EXPECT_TRUE(HasSelection);
}
