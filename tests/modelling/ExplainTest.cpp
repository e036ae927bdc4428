// What the engine tells a model author about a failed run: the place each
// error and report concerns, the child a stuck loop kept matching, and the
// farthest failure with what was expected there.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TsmTestSupport.h"
#include "library/modelling/TsmExplain.h"

using namespace ts;
using ::testing::HasSubstr;

namespace {

const char* const kPairs =
    "END? eof\n"
    "LINE\n"
    "  \"blank\"? eof\n"
    "  \"pair\" =\n"
    "    1 \"key\" % ID+\n"
    "    2 % =\n"
    "    3 \"value\" % ANY*\n";

struct ExplainRun {
    test::Compiled model;
    TStringStream input;
    std::vector<int64_t> reportOffsets;

    ExplainRun(std::string_view text, std::string in) : model(test::CompileModel(text)), input(std::move(in)) {
        model.compiler->Options.LineBreak = u"\n";
        model.compiler->OnError = [this](TTsObject&, Exception& e) {
            reportOffsets.push_back(TsmErrorOffset(e).value_or(-2));
        };
    }
    // The offset of the error the run raises, -2 when it raises none.
    int64_t ErrorOffset() {
        try {
            model.compiler->Modell(input);
        } catch (const std::exception& e) {
            return TsmErrorOffset(e).value_or(-1);
        }
        return -2;
    }
};

}  // namespace

TEST(Explain, ErrorsAndReportsCarryTheirPlaceInTheWholeInput) {
    // The third line lacks its "=": the ordered child fails after "c3",
    // counted over the whole input, not over the line's own stream.
    ExplainRun bad(kPairs, "a=1\nb=2\nc3 x\n");
    EXPECT_EQ(bad.ErrorOffset(), 10);

    // A FAIL report points at where its condition's text began; WARN too.
    ExplainRun reports("END? eof\nLINE\n  FAIL = #\n    % ANY*\n  WARN = !\n    % ANY*\n  % DIG+\n", "1\n#x\n22\n!\n");
    EXPECT_EQ(reports.ErrorOffset(), -2);
    EXPECT_EQ(reports.reportOffsets, (std::vector<int64_t>{2, 8}));

    // Input left: where the run stopped.
    ExplainRun left("LINE\n  % DIG+\n", "12\n34\n");
    EXPECT_EQ(left.ErrorOffset(), -2);
    EXPECT_EQ(left.reportOffsets, (std::vector<int64_t>{3}));

    // Errors made outside a run name no place.
    EXPECT_FALSE(TsmErrorOffset(ETsmNoMatchingNode(nullptr, u"x", {})).has_value());
    EXPECT_FALSE(TsmErrorOffset(std::runtime_error("x")).has_value());
}

TEST(Explain, NoProgressNamesTheChildThatMatchedNothing) {
    ExplainRun stuck("\"x\" =\n  \"idle\" = \n  END = ;\n", ";");
    stuck.model.compiler->Limits.MaxIdleMatches = 50;
    try {
        stuck.model.compiler->Modell(stuck.input);
        FAIL() << "the run should not finish";
    } catch (const ETsmNoProgress& e) {
        EXPECT_THAT(WideToUtf8(e.Message()), HasSubstr("Node: 'x' <StringStream>:1 (ID 1), last matched child: "
                                                       "'idle' <StringStream>:2 (ID 2), condition: '=', input: @0"));
        EXPECT_EQ(e.GlobalOffset, 0);
    }
}

TEST(Explain, FarthestFailureListsWhatWasExpectedThere) {
    ExplainRun bad(kPairs, "a=1\nbb 2\n");
    int earlier = 0;
    bad.model.compiler->OnModellingStep = [&](TTsmNode&, TTsmStepKind, const TTsArg&) { ++earlier; };
    {
        TTsmFarthestFailure farthest(*bad.model.compiler);
        EXPECT_EQ(bad.ErrorOffset(), 6);
        EXPECT_EQ(farthest.Offset, 6);
        EXPECT_EQ(WideToUtf8(farthest.ExpectedText()), "<unnamed> % = (<StringStream>:6)");
        EXPECT_EQ(WideToUtf8(farthest.ChainText()), "'LINE' (<StringStream>:2) > 'pair' (<StringStream>:4)");
        ASSERT_EQ(farthest.Tried.size(), 1u);
        EXPECT_EQ(farthest.Tried[0].Reason, u"ETsmOrderedConditionMismatch");
    }
    // The listener that was there is called meanwhile and back afterwards.
    EXPECT_GT(earlier, 0);
    ASSERT_TRUE(bad.model.compiler->OnModellingStep);

    // A line that starts wrong: every alternative tried at its start.
    ExplainRun start(kPairs, "a=1\n=2\n");
    TTsmFarthestFailure farthest(*start.model.compiler);
    EXPECT_EQ(start.ErrorOffset(), 4);
    EXPECT_EQ(WideToUtf8(farthest.ExpectedText()),
              "'END' ? eof (<StringStream>:1), 'blank' ? eof (<StringStream>:3), 'key' % ID+ (<StringStream>:5)");
}

TEST(Explain, AFailedRunCanLeaveItsResultAsFarAsItSucceeded) {
    ExplainRun bad(kPairs, "a=1\nb=2\nc3\nd=4\n");
    EXPECT_EQ(bad.ErrorOffset(), 10);
    EXPECT_FALSE(bad.model.compiler->FailedResult) << "kept only when asked";

    bad.model.compiler->KeepFailedResult = true;
    bad.input.Seek(0, TSeekOrigin::soBeginning);
    EXPECT_EQ(bad.ErrorOffset(), 10);
    ASSERT_TRUE(bad.model.compiler->FailedResult);
    TTsmSlicer& partial = *bad.model.compiler->FailedResult;
    const TTsTreeNode& root = *partial.ResultRoot();
    // The two good lines, and nothing of the failed one.
    ASSERT_EQ(root.ChildCount(), 2);
    EXPECT_EQ(partial.TextOfNode(root.ChildByIndex(1)->FirstChild(u"value"), u"start"), "2");

    // The next run starts without it.
    TStringStream good("a=1\n");
    bad.model.compiler->Modell(good);
    EXPECT_FALSE(bad.model.compiler->FailedResult);
}
