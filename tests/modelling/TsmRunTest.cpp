// Runs of a compiled model: each run keeps its own state and settings, so
// one model runs on several threads at once; a run's handlers stay with it;
// errors that leave a run outlive the run and its node objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TsmTestSupport.h"
#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmRun.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using ::testing::HasSubstr;

namespace {

// Records of "key=value" lines; the lines break as the run's options say.
const char* const RecordsModel =
    "END? eof\nLINE\n  \"pair\" =\n    1 \"key\" % ID+\n    2 % =\n    3 \"value\" % ANY*\n";

std::string RecordsInput(int seed, int count, const std::string& lineBreak) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "k" + std::to_string(seed) + "_" + std::to_string(i) + "=" + std::to_string(i * seed) + lineBreak;
    return text;
}

// One line per result node below the root: depth, name, start and inner text.
void OutlineInto(TTsmSlicer& s, const TTsTreeNode& node, int depth, std::string& out) {
    for (int i = 0; i < node.ChildCount(); ++i) {
        const TTsTreeNode& c = *node.ChildByIndex(i);
        out += std::string(static_cast<size_t>(depth), ' ') + WideToUtf8(c.Name()) + " [" + s.TextOfNode(&c, u"start") +
               "] {" + s.TextOfNode(&c, u"inner") + "}\n";
        OutlineInto(s, c, depth + 1, out);
    }
}

std::string Outline(TTsmSlicer& s) {
    std::string out;
    OutlineInto(s, *s.ResultRoot(), 0, out);
    return out;
}

// What one run over an input gives: the outline and how many steps its
// own listener saw.
struct TRunOutcome {
    std::string Outline;
    int Steps = 0;
    bool operator==(const TRunOutcome&) const = default;
};

TRunOutcome RunRecords(const TTsmCompiler& model, const std::string& text, const std::u16string& lineBreak) {
    TTsmRun run(model);
    run.Options.LineBreak = lineBreak;
    TRunOutcome outcome;
    run.OnModellingStep = [&outcome](TTsmNode&, TTsmStepKind, const TTsArg&) { ++outcome.Steps; };
    TStringStream in{RawByteString(text)};
    std::unique_ptr<TTsmSlicer> result = run.Modell(in);
    outcome.Outline = Outline(*result);
    return outcome;
}

}  // namespace

TEST(TsmRun, OneModelRunsOnTwoThreadsAsOnOne) {
    test::Compiled m = test::CompileModel(RecordsModel);
    const TTsmCompiler& model = *m.compiler;
    // Each thread its inputs and its own line break, known from one thread first.
    constexpr int Iterations = 6;
    const std::string breaks[2] = {"\n", "\r\n"};
    const std::u16string wideBreaks[2] = {u"\n", u"\r\n"};
    std::vector<std::string> inputs[2];
    std::vector<TRunOutcome> expected[2];
    for (int t = 0; t < 2; ++t)
        for (int i = 0; i < Iterations; ++i) {
            inputs[t].push_back(RecordsInput(t * 100 + i + 1, 40 + 10 * i, breaks[t]));
            expected[t].push_back(RunRecords(model, inputs[t].back(), wideBreaks[t]));
            ASSERT_THAT(expected[t].back().Outline,
                        HasSubstr("pair [] {k" + std::to_string(t * 100 + i + 1) + "_0=0}"));
        }
    // The line breaks matter: the other one reads no records.
    EXPECT_NE(RunRecords(model, inputs[0][0], u"\r\n"), expected[0][0]);

    std::vector<TRunOutcome> got[2];
    std::latch start(2);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < Iterations; ++i) got[t].push_back(RunRecords(model, inputs[t][i], wideBreaks[t]));
        });
    for (std::thread& th : threads) th.join();
    for (int t = 0; t < 2; ++t) EXPECT_EQ(got[t], expected[t]) << "thread " << t;
}

TEST(TsmRun, ACancelStopsOnlyItsOwnRun) {
    test::Compiled m = test::CompileModel(RecordsModel);
    const TTsmCompiler& model = *m.compiler;
    const std::string text = RecordsInput(7, 2000, "\n");
    const std::string whole = RunRecords(model, text, u"\n").Outline;

    // Both runs are under way before one of them is cancelled.
    std::latch bothRunning(2);
    std::optional<ETsmCancelled> cancelled;
    std::string other;
    auto runOver = [&](bool cancelItself) {
        TTsmRun run(model);
        run.Options.LineBreak = u"\n";
        bool first = true;
        run.OnModellingStep = [&](TTsmNode&, TTsmStepKind, const TTsArg&) {
            if (!first) return;
            first = false;
            bothRunning.arrive_and_wait();
            if (cancelItself) run.CancelToken.Cancel();
        };
        TStringStream in{RawByteString(text)};
        if (cancelItself) {
            try {
                run.Modell(in);
            } catch (const ETsmCancelled& e) {
                cancelled = e;
            }
        } else {
            other = Outline(*run.Modell(in));
        }
    };
    std::thread a(runOver, true), b(runOver, false);
    a.join();
    b.join();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(cancelled->Compiler, &model);
    EXPECT_EQ(other, whole);
}

TEST(TsmRun, ARunsOwnHandlersStayWithIt) {
    test::Compiled m = test::CompileModel("\"r\"? mine\n  \"t\" % ANY+\n");
    TTsmRun own(*m.compiler);
    int calls = 0;
    own.OwnFunctions().RegisterHandler(u"mine", [&calls](TTsFuncContext& ctx) {
        ++calls;
        ctx.Target->AssignBool(true);
        return true;
    });
    TStringStream in("x");
    std::unique_ptr<TTsmSlicer> result = own.Modell(in);
    EXPECT_EQ(Outline(*result), "r [] {x}\n t [x] {}\n");
    EXPECT_GE(calls, 1);
    // Neither the model nor another run knows the handler.
    TTsCallbackList handlers;
    EXPECT_EQ(m.compiler->Functions->Handlers(u"mine", handlers), 0);
    TTsmRun other(*m.compiler);
    in.Seek(0, TSeekOrigin::soBeginning);
    EXPECT_THROW(other.Modell(in), ETsUnknownExprFunction);
    // The model's own registry is what a run borrows.
    m.compiler->Functions->RegisterHandler(u"mine", [](TTsFuncContext& ctx) {
        ctx.Target->AssignBool(true);
        return true;
    });
    TTsmRun borrowing(*m.compiler);
    EXPECT_EQ(&borrowing.Functions(), m.compiler->Functions.get());
    in.Seek(0, TSeekOrigin::soBeginning);
    EXPECT_EQ(Outline(*borrowing.Modell(in)), "r [] {x}\n t [x] {}\n");
}

TEST(TsmRun, ARunIsOneModellAtATimeAndCanRunAgain) {
    test::Compiled m = test::CompileModel("\"r\"? again\n  \"t\" % ANY+\n");
    TTsmRun run(*m.compiler);
    EXPECT_THROW(run.ModellingSlicer(), ETsmNoModellingSlicer);
    EXPECT_THROW(run.CurrentInput(), ETsmNoInput);
    TStringStream in("ab"), other("");
    bool reentered = false;
    run.OwnFunctions().RegisterHandler(u"again", [&](TTsFuncContext& ctx) {
        EXPECT_EQ(&run.ModellingSlicer(), run.Slicer.get());
        EXPECT_EQ(&run.BaseInput(), &in);
        if (!reentered) {
            reentered = true;
            EXPECT_EQ(WideToUtf8(test::MessageOf<ETsmAlreadyModelling>([&] { run.Modell(other); })),
                      "Attempted to call TTsmCompiler.Modell again while it's still running.");
        }
        ctx.Target->AssignBool(true);
        return true;
    });
    const std::string first = Outline(*run.Modell(in));
    EXPECT_TRUE(reentered);
    EXPECT_EQ(first, "r [] {ab}\n t [ab] {}\n");
    in.Seek(0, TSeekOrigin::soBeginning);
    EXPECT_EQ(Outline(*run.Modell(in)), first);
    EXPECT_EQ(run.Slicer, nullptr);
    EXPECT_EQ(run.RunState, nullptr);
    EXPECT_TRUE(run.InputStack.Empty());
}

// Each error is read only after its run, and the run's nodes, are freed.
TEST(TsmRun, ErrorsThatLeaveARunOutliveIt) {
    auto runToError = [](const TTsmCompiler& model, const std::string& text, auto setUp, auto& error) {
        auto run = std::make_unique<TTsmRun>(model);
        setUp(*run);
        TStringStream in{RawByteString(text)};
        using E = typename std::remove_reference_t<decltype(error)>::value_type;
        error = test::ThrownError<E>([&] { run->Modell(in); });
        run.reset();
    };

    test::Compiled nested = test::CompileModel("\"p\" = p\n  \"q\" = q\n");
    std::optional<ETsmNoMatchingNode> mismatch;
    runToError(
        *nested.compiler, "px", [](TTsmRun&) {}, mismatch);
    ASSERT_TRUE(mismatch);
    EXPECT_EQ(mismatch->NodeName, u"p");
    EXPECT_EQ(mismatch->NodeID, nested[1]->Props.ID);
    EXPECT_EQ(mismatch->GlobalOffset, 1);
    EXPECT_THAT(WideToUtf8(mismatch->Message()), HasSubstr("Node: 'p' <StringStream>:1"));

    test::Compiled loop = test::CompileModel("(loop)\n  \"L\"\n    loop\nloop\n");
    std::optional<ETsmTooDeep> deep;
    runToError(
        *loop.compiler, "", [](TTsmRun& r) { r.Limits.MaxDepth = 20; }, deep);
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->Compiler, loop.compiler.get());
    EXPECT_EQ(deep->GlobalOffset, 0);
    EXPECT_THAT(WideToUtf8(deep->NodeText), HasSubstr("'L'"));
    EXPECT_THAT(WideToUtf8(deep->Message()), HasSubstr("more than 20 levels deep"));
    EXPECT_THAT(WideToUtf8(deep->Message()), HasSubstr("Node: " + WideToUtf8(deep->NodeText)));

    test::Compiled idle = test::CompileModel("\"x\" =\n  =\n  END = ;\n");
    std::optional<ETsmNoProgress> stuck;
    runToError(
        *idle.compiler, ";", [](TTsmRun& r) { r.Limits.MaxIdleMatches = 50; }, stuck);
    ASSERT_TRUE(stuck);
    EXPECT_EQ(stuck->Compiler, idle.compiler.get());
    EXPECT_EQ(stuck->GlobalOffset, 0);
    EXPECT_THAT(WideToUtf8(stuck->NodeText), HasSubstr("'x'"));
    EXPECT_FALSE(stuck->ChildText.empty());
    EXPECT_THAT(WideToUtf8(stuck->Message()), HasSubstr("Node: " + WideToUtf8(stuck->NodeText) +
                                                        ", last matched child: " + WideToUtf8(stuck->ChildText)));
}
