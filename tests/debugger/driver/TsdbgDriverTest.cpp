// Tests of the worker thread and the compile driver: phase rules, recorded
// errors with their phase, and cancelled runs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "debugger/driver/TsdbgDriver.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;

namespace {

const char16_t* const kModel =
    u"(word) % ID+\r\n"
    u"1? key + word = k\r\n"
    u"value = x\r\n";

WideString RunToText(TCompileDriver& d, std::u16string_view text, int index) {
    d.StartCompile(text, index);
    TSyncOutcome out = d.WaitAndSync();
    EXPECT_EQ(out.Action, TSyncAction::ShowResult) << WideToUtf8(d.ErrorMessage);
    EXPECT_EQ(out.ExitCode, WorkerSucceeded);
    return d.ResultTree ? LinesToText(RenderTree(*d.ResultTree)) : WideString();
}

}  // namespace

TEST(TsdbgThread, ExitCodesAndEvents) {
    TSingleThread idle({}, true, [](TSingleThread&, TTsArgs) { return 5; });
    EXPECT_EQ(idle.ExitCode(), TSingleThread::StillActive);
    EXPECT_FALSE(idle.Running());
    idle.WaitFor();  // not started: returns at once

    std::atomic<int> completed{0};
    TSingleThread ok({TTsArg(int32_t{40})}, true, [](TSingleThread&, TTsArgs a) { return a[0].AsInt() + 2; });
    ok.SetCompletionEvent([&](TSingleThread&, TTsArgs) { ++completed; });
    ok.Start();
    ok.WaitFor();
    EXPECT_EQ(ok.ExitCode(), 42);
    EXPECT_EQ(completed, 1);

    TSingleThread failing({}, false, [](TSingleThread&, TTsArgs) -> int { throw EConvertError(u"bad"); });
    failing.WaitFor();
    EXPECT_EQ(failing.ExitCode(), 1);  // no error event

    WideString seen;
    TSingleThread handled({}, true, [](TSingleThread&, TTsArgs) -> int { throw EConvertError(u"bad"); });
    handled.SetErrorEvent([&](TSingleThread&, TTsArgs, const std::exception& e) {
        seen = dynamic_cast<const Exception&>(e).Message();
        return 12;
    });
    handled.Start();
    handled.WaitFor();
    EXPECT_EQ(handled.ExitCode(), 12);
    EXPECT_EQ(seen, u"bad");
}

TEST(TsdbgThread, TerminateStopsACooperativeBodyWithTheGivenCode) {
    std::atomic<bool> stop{false};
    std::atomic<bool> started{false};
    TSingleThread t({}, false, [&](TSingleThread&, TTsArgs) {
        started = true;
        while (!stop) std::this_thread::yield();
        return 0;
    });
    t.SetStopRequest([&] { stop = true; });
    while (!started) std::this_thread::yield();
    EXPECT_TRUE(t.Running());
    t.Terminate(11);
    EXPECT_FALSE(t.Running());
    EXPECT_EQ(t.ExitCode(), 11);
    t.Terminate(3);  // no longer running: nothing changes
    EXPECT_EQ(t.ExitCode(), 11);
}

TEST(TsdbgDriver, PhaseIndexRules) {
    TCompileDriver d;
    d.Source = u"kept";
    auto message = [&](int index, std::source_location where = std::source_location::current()) {
        return test::MessageOf<EInvalidArgument>([&] { d.StartCompile(u"a", index); }, where);
    };
    EXPECT_EQ(message(3), u"Wrong LastPhase index 3.");
    EXPECT_EQ(message(-1), u"Wrong LastPhase index 255.");  // an unselected list
    EXPECT_EQ(d.Source, u"kept");                           // nothing changed
    EXPECT_FALSE(d.Working);

    d.StartCompile(kModel, 2);
    EXPECT_EQ(d.LastPhase, 2);  // "full" runs exactly what "merge" runs
    ASSERT_EQ(d.WaitAndSync().Action, TSyncAction::ShowResult) << WideToUtf8(d.ErrorMessage);
    const WideString full = LinesToText(RenderTree(*d.ResultTree));
    EXPECT_EQ(RunToText(d, kModel, 1), full);
    EXPECT_NE(RunToText(d, kModel, 0), full);
    EXPECT_EQ(d.LastPhase, 1);
    EXPECT_TRUE(d.HasResult);
    EXPECT_FALSE(d.Working);
}

TEST(TsdbgDriver, ErrorsAreRecordedWithTheirPhase) {
    TCompileDriver d;
    d.Reader = TModelReader::Native;
    // A merge error: the name of an undefined node to merge with.
    d.StartCompile(u"a + missing\r\n", 2);
    TSyncOutcome out = d.WaitAndSync();
    ASSERT_EQ(out.Action, TSyncAction::ShowError) << WideToUtf8(d.ErrorMessage);
    EXPECT_EQ(out.ExitCode, WorkerFailed);
    EXPECT_TRUE(d.ErrorShown);
    EXPECT_FALSE(d.ErrorClass.empty());
    EXPECT_EQ(d.ErrorPhase(), 1);
    EXPECT_EQ(d.RecompileIndex(), 0);
    // Recompiling one phase earlier shows the loaded nodes.
    const WideString firstClass = d.ErrorClass;
    d.StartCompile(u"a + missing\r\n", *d.RecompileIndex());
    EXPECT_EQ(d.WaitAndSync().Action, TSyncAction::ShowResult);
    EXPECT_EQ(d.ErrorClass, firstClass);  // a new run does not clear the last error

    // A load error: a condition without an operator.
    d.StartCompile(u"a !\r\n", 2);
    EXPECT_EQ(d.WaitAndSync().Action, TSyncAction::ShowError);
    EXPECT_EQ(d.ErrorClass, u"ETsmEmptyNegatedCondition");
    EXPECT_EQ(d.ErrorPhase(), 0);
    EXPECT_EQ(d.RecompileIndex(), std::nullopt);

    // A text that cannot be read: no compiler, no phase.
    d.StartCompile(u"   a\r\n", 2);
    EXPECT_EQ(d.WaitAndSync().Action, TSyncAction::ShowError);
    EXPECT_EQ(d.Compiler, nullptr);
    EXPECT_EQ(d.ErrorPhase(), -1);
    EXPECT_EQ(PhaseName(d.ErrorPhase()), u"-");
}

TEST(TsdbgDriver, ABadModelLineIsExplainedInTheAuthorsWords) {
    TCompileDriver d;
    d.StartCompile(u"a\r\nb !\r\n", 2);
    ASSERT_EQ(d.WaitAndSync().Action, TSyncAction::ShowError);
    EXPECT_EQ(d.ErrorExplanation, u"expected the condition operator after \"!\"");
    // After "b !" on the memo's second line: bytes 0..2 are "a" and CR LF.
    EXPECT_EQ(d.ErrorExplanationOffset, 6);
    EXPECT_EQ(MemoOffsetText(d.Source, d.ErrorExplanationOffset, u"m.txt", 0, d.ErrorExplanation),
              u"m.txt:2:4: expected the condition operator after \"!\"\nb !\n   ^\n");
    // The library's own message stays beside it.
    EXPECT_EQ(d.ErrorClass, u"ETsmOrderedConditionMismatch");
    // The place the window shows, in memo lines.
    ASSERT_TRUE(d.ErrorPlace());
    EXPECT_EQ(d.ErrorPlace()->Line, 2);
    EXPECT_EQ(d.ErrorPlace()->Column, 4);
    EXPECT_EQ(d.ErrorPlaceText(), u"Line 2, column 4: expected the condition operator after \"!\"\nb !\n   ^\n");

    // A later error without an explanation replaces it.
    d.StartCompile(u"a + missing\r\n", 2);
    ASSERT_EQ(d.WaitAndSync().Action, TSyncAction::ShowError);
    EXPECT_EQ(d.ErrorExplanation, u"");
    EXPECT_EQ(d.ErrorExplanationOffset, -1);
    // A merge error names no offset in the text: no place.
    EXPECT_EQ(d.ErrorPlaceText(), u"");
}

TEST(TsdbgDriver, TheCommandLineNamesTheTextAfterItsFile) {
    // The window's memo keeps the stream's own name ...
    TCompileDriver window;
    window.StartCompile(u"a + missing\r\n", 2);
    ASSERT_EQ(window.WaitAndSync().Action, TSyncAction::ShowError);
    EXPECT_NE(window.ErrorMessage.find(u"<StringStream>:1"), WideString::npos) << WideToUtf8(window.ErrorMessage);
    // ... and a file's text is named after the file, its lines counted
    // from where the text stands in it.
    TCompileDriver file;
    file.SourceName = u"m.tsn";
    file.FirstLine = 4;
    file.StartCompile(u"a + missing\r\n", 2);
    ASSERT_EQ(file.WaitAndSync().Action, TSyncAction::ShowError);
    EXPECT_NE(file.ErrorMessage.find(u"m.tsn:5"), WideString::npos) << WideToUtf8(file.ErrorMessage);
    EXPECT_EQ(file.ErrorMessage.find(u"StringStream"), WideString::npos);
}

TEST(TsdbgDriver, CancelledRunsEndWithCode11AndFreeTheirResults) {
    TCompileDriver d;
    d.Reader = TModelReader::Native;
    // An earlier error, to be shown again after the cancel.
    d.StartCompile(u"a !\r\n", 2);
    d.WaitAndSync();
    const WideString earlier = d.ErrorMessage;

    // The worker waits at the compile step until the cancel has been asked for.
    std::atomic<bool> reached{false};
    d.OnWorkerStep = [&](int step) {
        if (step != 1) return;
        reached = true;
        while (!d.Cancelled()) std::this_thread::yield();
    };
    d.StartCompile(kModel, 2);
    while (!reached) std::this_thread::yield();
    d.StopWorker();
    EXPECT_EQ(d.InputTree, nullptr);
    EXPECT_EQ(d.Compiler, nullptr);
    EXPECT_FALSE(d.Working);
    TSyncOutcome out = d.WaitAndSync();
    EXPECT_EQ(out.ExitCode, WorkerCancelled);
    EXPECT_TRUE(out.Status.empty());                // no message for a cancel
    EXPECT_EQ(out.Action, TSyncAction::ShowError);  // the earlier error again
    EXPECT_EQ(d.ErrorMessage, earlier);
    EXPECT_EQ(d.Worker, nullptr);
}

TEST(TsdbgDriver, ACancelStopsALongRead) {
    WideString big;
    for (int i = 0; i < 20000; ++i) big += u"n" + IntToStr(i) + u" = x\r\n";
    TCompileDriver d;
    std::atomic<bool> reading{false};
    d.OnWorkerStep = [&](int step) {
        if (step == 0) reading = true;
    };
    d.StartCompile(big, 2);
    while (!reading) std::this_thread::yield();
    d.StopWorker();
    TSyncOutcome out = d.WaitAndSync();
    EXPECT_EQ(out.ExitCode, WorkerCancelled);
    EXPECT_EQ(out.Action, TSyncAction::Idle);
    EXPECT_TRUE(d.ErrorClass.empty());  // the read's failure is not the run's error
    EXPECT_EQ(d.InputTree, nullptr);
}

TEST(TsdbgDriver, ACancelDoesNotWaitAndANewRunStartsBesideTheOldWorker) {
    TCompileDriver d;
    d.Reader = TModelReader::Native;
    // The first worker is held at its compile step until the test lets it go.
    std::atomic<bool> reached{false}, release{false};
    d.OnWorkerStep = [&](int step) {
        if (step != 1 || reached.exchange(true)) return;
        while (!release) std::this_thread::yield();
    };
    d.StartCompile(kModel, 2);
    while (!reached) std::this_thread::yield();
    d.StopWorker();  // returns although the worker cannot move yet
    EXPECT_EQ(d.Sync().Action, TSyncAction::None);

    // A new run replaces it; the old worker's end is never reported.
    d.StartCompile(kModel, 0);
    EXPECT_EQ(d.RetiredWorkers(), 1u);
    release = true;
    TSyncOutcome out = d.WaitAndSync();
    EXPECT_EQ(out.Action, TSyncAction::ShowResult) << WideToUtf8(d.ErrorMessage);
    ASSERT_NE(d.Compiler, nullptr);
    EXPECT_EQ(d.Compiler->CurrentPhase, 1);  // the new run's phase, not the old one's
}

TEST(TsdbgDriver, ACancelAtTheLastStepLeavesNoResult) {
    TCompileDriver d;
    d.Reader = TModelReader::Native;
    std::atomic<bool> reached{false}, release{false};
    // Cancelled at the last step, which no longer looks at the token.
    d.OnWorkerStep = [&](int step) {
        if (step != 2) return;
        reached = true;
        while (!release) std::this_thread::yield();
    };
    d.StartCompile(kModel, 2);
    while (!reached) std::this_thread::yield();
    d.StopWorker();
    release = true;
    TSyncOutcome out = d.WaitAndSync();
    EXPECT_EQ(out.ExitCode, WorkerCancelled);
    EXPECT_EQ(out.Action, TSyncAction::Idle);
    EXPECT_FALSE(d.HasResult);
    EXPECT_EQ(d.ResultTree, nullptr);
}
