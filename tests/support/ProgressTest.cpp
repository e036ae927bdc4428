// The progress line: what it says, how often it is drawn, and how it ends.
#include <gtest/gtest.h>

#include <string>

#include "support/Progress.h"

using namespace ts;

TEST(Progress, TextSaysBytesDoneOfTheTotalAndTheRate) {
    EXPECT_EQ(TProgress::Text(12'000'000, 100'000'000, 4.0), "12.0 of 100.0 MB, 12%, 3.0 MB/s");
    EXPECT_EQ(TProgress::Text(0, 5'000'000, 0.0), "0.0 of 5.0 MB, 0%");
    EXPECT_EQ(TProgress::Text(7'000'000, 5'000'000, 1.0), "7.0 of 5.0 MB, 100%, 7.0 MB/s") << "never past 100%";
    EXPECT_TRUE(TProgress::Wanted(TProgress::Threshold + 1, true));
    EXPECT_FALSE(TProgress::Wanted(TProgress::Threshold, true));
    EXPECT_FALSE(TProgress::Wanted(int64_t{1} << 40, false)) << "never when stderr is not a terminal";
}

TEST(Progress, DrawsAtMostFourTimesASecondAndFinishesWithALineFeed) {
    double now = 100.0;
    std::string out;
    int draws = 0;
    TProgress p(
        10'000'000, [&](std::string_view s) { out += s, draws += s.starts_with('\r'); }, [&] { return now; });
    // A thousand updates within a tenth of a second draw nothing ...
    for (int i = 0; i < 1000; ++i) p.Update(i * 1000);
    EXPECT_EQ(draws, 0);
    // ... and over two seconds at most eight times.
    for (int i = 0; i < 2000; ++i) {
        now += 0.001;
        p.Update(1'000'000 + i * 1000);
    }
    EXPECT_GE(draws, 7);
    EXPECT_LE(draws, 8);
    EXPECT_EQ(out.find('\n'), std::string::npos) << "redrawn in place";
    EXPECT_EQ(out.substr(out.rfind('\r')), "\r3.0 of 10.0 MB, 29%, 1.5 MB/s");
    p.Finish();
    EXPECT_EQ(out.substr(out.rfind('\r')), "\r10.0 of 10.0 MB, 100%, 5.0 MB/s\n");
    p.Finish();
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find("\n\n"), std::string::npos) << "finished once";

    // A shorter line blanks what the longer one before it left.
    std::string shorter;
    now = 0;
    TProgress q(
        200'000'000, [&](std::string_view s) { shorter = s; }, [&] { return now; });
    now = 0.5;
    q.Update(150'000'000);
    const size_t wide = shorter.size();
    now = 1.0e6;
    q.Update(1);
    EXPECT_EQ(shorter.size(), wide);
    EXPECT_EQ(shorter.back(), ' ');

    // A run that ends before the first draw leaves nothing behind.
    std::string none;
    TProgress quick(
        10'000'000, [&](std::string_view s) { none += s; }, [] { return 1.0; });
    quick.Update(10'000'000);
    quick.Finish();
    EXPECT_EQ(none, "");
}
