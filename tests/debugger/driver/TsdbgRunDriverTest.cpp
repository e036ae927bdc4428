// Tests of the window's run driver: runs and samples on a worker, cancels
// that do not wait.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "debugger/driver/TsdbgRunDriver.h"

using namespace ts;

namespace {

TModelRunRequest Request(std::u16string_view model, std::string input) {
    TModelRunRequest r;
    r.ModelText = WideString(model);
    r.Input = std::move(input);
    r.LineBreak = u"\n";
    return r;
}

// A run that takes far longer than any test: a step per byte of 64 MiB,
// building nothing, so that only a cancel ends it soon.
constexpr std::u16string_view kEndless = u"END? eof\n% ANY\n";
const std::string& LongInput() {
    static const std::string input(64 << 20, 'q');
    return input;
}

}  // namespace

TEST(RunDriver, RunsOnAWorkerAndHandsTheResultOver) {
    TRunDriver driver;
    driver.StartRun(Request(u"END? eof\n\"w\" % LAT+ NL\n", "ab\ncd\n"));
    EXPECT_TRUE(driver.Working());
    EXPECT_EQ(driver.WaitAndSync(), TRunSyncAction::ShowRun);
    EXPECT_FALSE(driver.Working());
    ASSERT_TRUE(driver.Run);
    EXPECT_TRUE(driver.Run->Succeeded());
    EXPECT_EQ(driver.Run->TreeText(), u"<unnamed> = \"ab\\ncd\\n\"\n  w = \"ab\\n\"\n  w = \"cd\\n\"\n");
    EXPECT_EQ(driver.Sync(), TRunSyncAction::None);
}

TEST(RunDriver, ACancelDoesNotWaitAndALoopingRunEnds) {
    TRunDriver driver;
    driver.StartRun(Request(kEndless, LongInput()));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    driver.Cancel();
    EXPECT_FALSE(driver.Working());
    EXPECT_EQ(driver.Sync(), TRunSyncAction::Cancelled);
    EXPECT_FALSE(driver.Run);
    // The cancelled worker ends on its own, soon.
    for (int i = 0; i < 500 && driver.RetiredWorkers(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        driver.Sync();
    }
    EXPECT_EQ(driver.RetiredWorkers(), 0u);
}

TEST(RunDriver, ANewRunReplacesARunningOne) {
    TRunDriver driver;
    driver.StartRun(Request(kEndless, LongInput()));
    driver.StartRun(Request(u"\"w\" % LAT+\n", "ab"));
    EXPECT_EQ(driver.WaitAndSync(), TRunSyncAction::ShowRun);
    ASSERT_TRUE(driver.Run);
    EXPECT_TRUE(driver.Run->Succeeded());
}

TEST(RunDriver, JudgesSamples) {
    TRunDriver driver;
    TSampleModel model;
    model.ModelText = u"END? eof\n\"w\" % LAT+ NL\n";
    model.LineBreak = u"\n";
    driver.StartSamples(model, {{u"good", u"ab", 0, 1, u"<unnamed> = \"ab\\n\"\n  w = \"ab\\n\""},
                                {u"bad", u"12", 0, 1, std::nullopt}});
    EXPECT_EQ(driver.WaitAndSync(), TRunSyncAction::ShowSamples);
    ASSERT_EQ(driver.Samples.size(), 2u);
    EXPECT_TRUE(driver.Samples[0].Passed);
    EXPECT_FALSE(driver.Samples[1].Passed);
    EXPECT_EQ(driver.Samples[1].Title, u"bad");
}
