// The modelling engine: the child loop's rules, result nodes and their
// spans, LINE, FAIL and WARN, the run's errors and the limits that end runs
// which could not finish.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TsmTestSupport.h"
#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmExplain.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using ::testing::HasSubstr;

namespace {

// A compiled model, an input and (after Run) the result.
struct Engine {
    test::Compiled model;
    TStringStream input;
    std::unique_ptr<TTsmSlicer> result;
    std::vector<std::string> reports;  // messages the OnError handler received

    explicit Engine(std::string_view modelText, std::string in = {}, bool lf = true)
        : model(test::CompileModel(modelText)), input(std::move(in)) {
        if (lf) model.compiler->Options.LineBreak = u"\n";
    }
    TTsmCompiler& compiler() { return *model.compiler; }
    void CollectReports() {
        compiler().OnError = [this](TTsObject&, Exception& e) { reports.push_back(WideToUtf8(e.Message())); };
    }
    TTsmSlicer& Run() {
        result = compiler().Modell(input);
        return *result;
    }
    // The message of the E that running must raise.
    template <class E>
    std::string RunError(std::source_location where = std::source_location::current()) {
        return WideToUtf8(test::MessageOf<E>([this] { Run(); }, where));
    }
};

std::string Text(TTsmSlicer& s, const TTsTreeNode* node, std::u16string_view prop) { return s.TextOfNode(node, prop); }

// One line per result node below the root: name, then the text of its
// "start" span, and of its "inner" span when that is not empty.
void OutlineInto(TTsmSlicer& s, const TTsTreeNode& node, int depth, std::string& out) {
    for (int i = 0; i < node.ChildCount(); ++i) {
        const TTsTreeNode& c = *node.ChildByIndex(i);
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + WideToUtf8(c.Name()) + " [" + Text(s, &c, u"start") +
               "]";
        std::string inner = Text(s, &c, u"inner");
        if (!inner.empty()) out += " {" + inner + "}";
        out += "\n";
        OutlineInto(s, c, depth + 1, out);
    }
}

std::string Outline(TTsmSlicer& s) {
    std::string out;
    OutlineInto(s, *s.ResultRoot(), 0, out);
    return out;
}

}  // namespace

TEST(Engine, ResultNodesAndSpans) {
    Engine e(
        "\"pair\" =\n"
        "  .? \"key\" % ID+\n"
        "  . = =\n"
        "  . \"value\" % DIG+\n",
        "abc=12");
    TTsmSlicer& s = e.Run();
    EXPECT_EQ(Outline(s),
              "pair [] {abc=12}\n"
              "  key [abc]\n"
              "  value [12]\n");
    const TTsTreeNode* pair = s.ResultRoot()->FirstChild(u"pair");
    ASSERT_NE(pair, nullptr);
    // Every owned result node carries all spans, the plain and the global form.
    for (std::u16string_view p : {u"start", u"inner", u"end", u"startGlobal", u"innerGlobal", u"endGlobal"})
        EXPECT_TRUE(TTsmSlicer::HasStreamData(pair->Props().Get(p).Value)) << WideToUtf8(p);
    // The cyclic node's end is its implicit END, matched empty at the end.
    EXPECT_EQ(TTsmSlicer::SpanOffset(pair->Props().Get(u"end").Value), 6);
    EXPECT_EQ(TTsmSlicer::SpanLength(pair->Props().Get(u"end").Value), 0);
    // The root's result is the slicer's; a nameless node uses its parent's.
    EXPECT_EQ(s.ResultRoot()->ChildCount(), 1);
    EXPECT_EQ(e.compiler().CurrentRun(), nullptr) << "the run is over";
    EXPECT_THROW(e.compiler().ModellingSlicer(), ETsmNoModellingSlicer);
}

TEST(Engine, LineModelOverLinesAndTheEndOfInput) {
    Engine e(
        "END? eof\n"
        "LINE\n"
        "  \"row\" % ID+\n"
        "  \"empty\"? eof\n",
        "ab\ncde\n\nf");
    TTsmSlicer& s = e.Run();
    EXPECT_EQ(Outline(s), "row [ab]\nrow [cde]\nempty []\nrow [f]\n");
    const TTsTreeNode* cde = s.ResultRoot()->ChildByIndex(1);
    const TTsValue& start = cde->Props().Get(u"start").Value;
    const TTsValue& global = cde->Props().Get(u"startGlobal").Value;
    EXPECT_EQ(TTsmSlicer::SpanOffset(start), 0) << "plain spans lie in the line's own stream";
    EXPECT_NE(start.Obj, &e.input);
    EXPECT_EQ(TTsmSlicer::SpanOffset(global), 3);
    EXPECT_EQ(global.Obj, &e.input);
    EXPECT_EQ(Text(s, cde, u"startGlobal"), "cde");
    // The input is in memory: the four lines are views of it, kept by the
    // slicer beside the input, and read without a copy.
    EXPECT_EQ(s.StreamCount(), 1);
    EXPECT_EQ(s.ViewCount(), 4);
    EXPECT_EQ(s.FindView(start.Obj), start.Obj);
    EXPECT_EQ(Text(s, cde, u"start"), "cde");

    // At the end of the input LINE pushes nothing: its children meet the end itself.
    Engine end("LINE\n  \"e\"? eof\n", "");
    TTsmSlicer& s2 = end.Run();
    EXPECT_EQ(Outline(s2), "e []\n");
    EXPECT_EQ(s2.StreamCount(), 1);
    EXPECT_EQ(s2.ViewCount(), 0);
}

// A stream derived from a memory stream may do more on a read (the window's
// checks a cancel request): LINE must read its lines through it, copying
// them as for a file, and never view its bytes behind its back.
TEST(Engine, LineReadsThroughAStreamThatOnlyLooksLikeMemory) {
    struct TCountingStream : TStringStream {
        using TStringStream::TStringStream;
        int64_t Read(void* buffer, int64_t count) override {
            ++reads;
            return TStringStream::Read(buffer, count);
        }
        int reads = 0;
    };
    test::Compiled model = test::CompileModel("END? eof\nLINE\n  \"row\" % ID+\n");
    model.compiler->Options.LineBreak = u"\n";
    TCountingStream input(RawByteString("ab\ncd\n"));
    std::unique_ptr<TTsmSlicer> s = model.compiler->Modell(input);
    EXPECT_EQ(Outline(*s), "row [ab]\nrow [cd]\n");
    EXPECT_GE(input.reads, 2);
    EXPECT_EQ(s->ViewCount(), 0);
    EXPECT_EQ(s->StreamCount(), 3);
}

TEST(Engine, LongLinesEndAtTheirSeparator) {
    const std::string longLine(5000, 'a');
    Engine e("END? eof\nLINE\n  \"l\" % ANY*\n", longLine + "\nb");
    TTsmSlicer& s = e.Run();
    ASSERT_EQ(s.ResultRoot()->ChildCount(), 2);
    EXPECT_EQ(Text(s, s.ResultRoot()->ChildByIndex(0), u"start"), longLine);
    EXPECT_EQ(Text(s, s.ResultRoot()->ChildByIndex(1), u"start"), "b");

    // A CR LF separator split across the read windows is still found.
    std::string split(255, 'x');
    Engine crlf("END? eof\nLINE\n  \"l\" % ANY*\n", split + "\r\nyz", false);
    TTsmSlicer& s2 = crlf.Run();
    ASSERT_EQ(s2.ResultRoot()->ChildCount(), 2);
    EXPECT_EQ(Text(s2, s2.ResultRoot()->ChildByIndex(0), u"start"), split);
    EXPECT_EQ(Text(s2, s2.ResultRoot()->ChildByIndex(1), u"start"), "yz");

    // Without a line break in the options, the input's own is used.
    Engine detect("END? eof\nLINE\n  \"l\" % ANY*\n", "p\rq\r");
    detect.compiler().Options.LineBreak.clear();
    TTsmSlicer& s3 = detect.Run();
    EXPECT_EQ(Outline(s3), "l [p]\nl [q]\n");
}

TEST(Engine, OrderedOptionalAndTentativeChildren) {
    // An ordered child that does not match fails its parent at once.
    Engine ordered("1 \"a\" = a\n\"b\" = b\n", "b");
    EXPECT_THAT(ordered.RunError<ETsmOrderedConditionMismatch>(),
                "TCdExact condition of an ordered node didn't match the input. Node: 'a' <StringStream>:1 (ID 1), "
                "input: @0 b <eof>.");

    // An optional one is skipped, and tried again while MatchCount is below its order.
    Engine optional("2? \"a\" = a\n\"b\" = b\n", "ba");
    EXPECT_EQ(Outline(optional.Run()), "b [b]\na [a]\n");

    // A tentative child whose body fails leaves the input as it was; the next sibling runs.
    Engine tentative("^ \"t\" = x\n  = y\n\"u\" = xz\n", "xz");
    EXPECT_EQ(Outline(tentative.Run()), "u [xz]\n");
    Engine firm("\"t\" = x\n  = y\n\"u\" = xz\n", "xz");
    EXPECT_THAT(firm.RunError<ETsmNoMatchingNode>(),
                HasSubstr("No child nodes match the input. Node: 't' <StringStream>:1 (ID 1), input: @1 z <eof>."));
}

TEST(Engine, ResettersOnceAndNonConsumingChildren) {
    // A resetter lets once children be tried again.
    Engine reset(". \"a\" = a\n0 = ;\nEND? eof\n", "a;a");
    EXPECT_EQ(Outline(reset.Run()), "a [a]\na [a]\n");
    Engine noReset(". \"a\" = a\n= ;\nEND? eof\n", "a;a");
    EXPECT_THAT(noReset.RunError<ETsmNoMatchingNode>(), HasSubstr("input: @2 a <eof>."));

    // A non-consuming child's children read from the start of its condition's text.
    Engine peek(
        "\"word\" =\n"
        "  .? \"peek\"... % ID+\n"
        "    \"first\" % LAT\n"
        "  . \"rest\" % ID+\n",
        "abc");
    EXPECT_EQ(Outline(peek.Run()),
              "word [] {abc}\n"
              "  peek [abc] {a}\n"
              "    first [a]\n"
              "  rest [bc]\n");
}

TEST(Engine, MismatchMessagesAndInputText) {
    Engine none("\"a\" = a\n\"b\" = b\n", std::string("c\x01\xff", 3));
    std::string msg = none.RunError<ETsmNoMatchingNode>();
    EXPECT_THAT(msg, HasSubstr("No child nodes match the input. Node: <TTsmRoot $"));
    EXPECT_THAT(msg, HasSubstr("(ID 0), input: @0 c 01 FF <eof>."));

    // Eleven bytes at most, and no <eof> while more input follows.
    TStringStream in("0123456789abcdef");
    in.Seek(2, TSeekOrigin::soBeginning);
    EXPECT_EQ(TsmInputText(&in), u"@2 2 3 4 5 6 7 8 9 a b c");
    EXPECT_EQ(in.Position(), 2);
    EXPECT_EQ(TsmInputText(nullptr), u"???");

    // A condition that does not yield a Boolean is raised, not forgiven.
    Engine bad("\"a\"? 5\n\"b\" = b\n", "b");
    EXPECT_THAT(bad.RunError<ETsmBadConditionResultType>(),
                HasSubstr("Condition TCdExpression evaluated to a non-boolean value '5'. Node: 'a'"));
}

TEST(Engine, InputLeftAndEmptyModels) {
    // A root without children reads nothing: what is there is left over.
    Engine empty("", "xy");
    EXPECT_EQ(empty.RunError<ETsmInputLeft>(),
              "Modelling has stopped at offset 0000h leaving 2 bytes in the input stream.");
    Engine emptyOk("", "");
    EXPECT_EQ(emptyOk.Run().ResultRoot()->ChildCount(), 0);

    // With an error handler the report is received and the result returned.
    Engine left("\"a\" = a\n", "abc");
    left.CollectReports();
    EXPECT_EQ(Outline(left.Run()), "a [a]\n");
    EXPECT_EQ(left.reports,
              std::vector<std::string>{"Modelling has stopped at offset 0001h leaving 2 bytes in the input stream."});

    // A compiler without a compiled model has nothing to run.
    TTsmCompiler blank;
    TStringStream in("");
    EXPECT_THROW(blank.Modell(in), ETsmModelling);
}

TEST(Engine, FailAndWarnNodes) {
    Engine warn("WARN \"careful\" = w\n\"x\" = x\n", "w");
    warn.CollectReports();
    warn.Run();
    EXPECT_EQ(warn.reports, std::vector<std::string>{"careful (TTsmWarn node message), input: @1 <eof>."});

    Engine plain("FAIL = w\n", "w");
    EXPECT_EQ(plain.RunError<ETsmError>(), "A TTsmFail node ('FAIL') has matched, input: @1 <eof>.");

    // A message node with children goes on modelling them, in its parent's result.
    Engine nested("\"r\" =\n  WARN \"w\" = w\n    \"in\" = i\n", "wi");
    nested.CollectReports();
    EXPECT_EQ(Outline(nested.Run()), "r [] {wi}\n  in [i]\n");
    EXPECT_EQ(nested.reports.size(), 1u);
}

TEST(Engine, FailedNodesFreeOnlyWhatTheyCreated) {
    // A path that finds an existing node (the text syntax cannot write one,
    // a tree built otherwise can): when its body fails, tentatively, the
    // shared node stays as it was, spans included.
    auto tree = test::ReadModel(
        "\"a\" = x\n"
        "^ \"reuse\" = y\n"
        "  = z\n"
        "\"b\" = yw\n"
        "END? eof\n");
    tree->ChildByIndex(1)->Props().SetValue(u"mPath", TTsValue::FromStr(u"a[0]"));
    TTsmCompiler compiler;
    compiler.Compile(*tree);
    TStringStream in("xyw");
    std::unique_ptr<TTsmSlicer> s = compiler.Modell(in);
    EXPECT_EQ(Outline(*s), "a [x]\nb [yw]\n");

    // A failed node frees what all runs of its children made, not only
    // what each child made last.
    Engine repeated("^ =\n  \"x\" = a\n  END = ;\n\"y\" = aab\n", "aab");
    EXPECT_EQ(Outline(repeated.Run()), "y [aab]\n");

    // A failed node's fresh path is freed whole.
    Engine deep("^ \"p\\q\" = x\n  = z\n\"r\" = x\n", "x");
    EXPECT_EQ(Outline(deep.Run()), "r [x]\n");
}

TEST(Engine, ModellingSteps) {
    Engine e("\"a\" = a\n\"b\" = b\n", "b");
    std::vector<std::string> steps;
    e.compiler().OnModellingStep = [&](TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
        std::string v;
        if (value.Type() == vtInteger)
            v = std::to_string(value.AsInt());
        else
            v = value.AsObj() ? WideToUtf8(value.AsObj()->ClassName()) : "nil";
        steps.push_back(WideToUtf8(node.Props.Name) + ":" + std::to_string(static_cast<int32_t>(kind)) + ":" + v);
    };
    e.Run();
    EXPECT_EQ(steps, (std::vector<std::string>{":3:TTsmResultNode", "a:0:-1", "a:0:1", "a:1:ETsmConditionMismatch",
                                               "b:0:-1", "b:0:1", "b:1:nil", "b:3:TTsmResultNode", "b:2:nil"}));
}

TEST(Engine, RoutinesReachTheRunAndCannotRestartIt) {
    Engine e("\"r\"? again\n", "");
    TStringStream other("");
    e.compiler().Functions->RegisterHandler(u"again", [&](TTsFuncContext&) -> bool {
        e.compiler().Modell(other);
        return true;
    });
    EXPECT_EQ(e.RunError<ETsmAlreadyModelling>(),
              "Attempted to call TTsmCompiler.Modell again while it's still running.");
    EXPECT_THROW(e.compiler().ModellingSlicer(), ETsmNoModellingSlicer);

    // A routine that replaces the caller's stream: the result stays readable,
    // and losing the original is reported.
    Engine swap("\"s\"? swap\n  \"t\" % ANY+\n", "x");
    swap.compiler().Functions->RegisterHandler(u"swap", [&](TTsFuncContext& ctx) -> bool {
        TTsmCompiler& c = swap.compiler();
        EXPECT_EQ(&c.ModellingSlicer(), c.CurrentRun()->Slicer.get());
        c.CurrentInput().Seek(1, TSeekOrigin::soBeginning);
        c.PopInput();
        c.PushInput(std::make_unique<TStringStream>("pushed"));
        ctx.Target->AssignBool(true);
        return true;
    });
    swap.CollectReports();
    TTsmSlicer& s = swap.Run();
    EXPECT_EQ(swap.reports, std::vector<std::string>{
                                "Input stream stack didn't contain the original stream after modelling has finished."});
    EXPECT_EQ(Text(s, s.ResultRoot()->FirstChild(u"s")->FirstChild(u"t"), u"start"), "pushed");
}

TEST(Engine, RunsThatCannotFinishEndInErrors) {
    // A model that recurses without consuming input.
    const char* loop = "(loop)\n  \"L\"\n    loop\nloop\n";
    Engine deep(loop, "");
    deep.compiler().Limits.MaxDepth = 50;
    EXPECT_THAT(deep.RunError<ETsmTooDeep>(), HasSubstr("nested more than 50 levels deep"));
    // The default limit is far from the end of the stack, even instrumented.
    Engine deepDefault(loop, "");
    EXPECT_THAT(deepDefault.RunError<ETsmTooDeep>(), HasSubstr("more than 1000 levels"));

    // Input nested deeper than the limit, with a model that consumes.
    const char* nest = "(nest)\n  \"n\" = (\n    .^ nest\n    . = )\nnest\n";
    Engine ok(nest, "((()))");
    EXPECT_EQ(ok.Run().ResultRoot()->ChildCount(), 1);
    Engine tooDeep(nest, std::string(3000, '(') + std::string(3000, ')'));
    EXPECT_THROW(tooDeep.Run(), ETsmTooDeep);
    // Ten levels of input take 22 levels of nodes: at the limit and one past.
    const std::string ten = std::string(10, '(') + std::string(10, ')');
    Engine atLimit(nest, ten);
    atLimit.compiler().Limits.MaxDepth = 22;
    EXPECT_EQ(atLimit.Run().ResultRoot()->ChildCount(), 1);
    Engine onePast(nest, ten);
    onePast.compiler().Limits.MaxDepth = 21;
    EXPECT_THAT(onePast.RunError<ETsmTooDeep>(), HasSubstr("nested more than 21 levels deep"));

    // A cyclic node whose child keeps matching nothing.
    const char* idle = "\"x\" =\n  =\n  END = ;\n";
    Engine stuck(idle, ";");
    stuck.compiler().Limits.MaxIdleMatches = 500;
    EXPECT_THAT(stuck.RunError<ETsmNoProgress>(),
                HasSubstr("Child nodes have matched 500 times in a row without consuming input. Node: 'x'"));

    // A cancel request from another holder of the token ends the run.
    Engine cancelled(idle, ";");
    cancelled.compiler().Limits.MaxIdleMatches = 1 << 30;
    TTsmCancelToken token = cancelled.compiler().CancelToken;
    int steps = 0;
    cancelled.compiler().OnModellingStep = [&](TTsmNode&, TTsmStepKind, const TTsArg&) {
        if (++steps == 1000) token.Cancel();
    };
    EXPECT_EQ(cancelled.RunError<ETsmCancelled>(), "Modelling was cancelled, input: @0 ; <eof>.");
    EXPECT_LT(steps, 1100);
    // It stays cancelled until reset.
    EXPECT_THROW(cancelled.Run(), ETsmCancelled);
    token.Reset();
    cancelled.compiler().OnModellingStep = nullptr;
    cancelled.compiler().Limits.MaxIdleMatches = 10;
    EXPECT_THROW(cancelled.Run(), ETsmNoProgress);
}

// The counters a selector formula reads ("n", ".n", ...) take a walk over
// every enclosing level: only a condition that resolves a node reference
// loads them, else N nested levels would cost N * N.
TEST(Engine, ConditionsLoadCountersOnlyWhenTheyReferToNodes) {
    const char* nest = "(nest)\n  \"n\" = (\n    .^ nest\n    . = )\nnest\n";
    auto walked = [](Engine& e) {
        int64_t loads = -1;
        e.compiler().OnModellingStep = [&](TTsmNode& node, TTsmStepKind, const TTsArg&) {
            loads = node.Run->RunState->CounterLoads;
        };
        e.Run();
        return loads;
    };
    Engine plain(nest, std::string(200, '(') + std::string(200, ')'));
    EXPECT_EQ(walked(plain), 0);

    // A reference still sees the counters of every level it stands in, as a
    // failed one reports them: n, then one per enclosing level.
    const char* referring = "\"a\" = (\n  \"g\" = (\n    \"b\" = (\n      \"d\" ? zz[n]$inner 'x' =\n";
    Engine failed(referring, "(((x");
    EXPECT_THAT(failed.RunError<ETsExprNoNode>(), HasSubstr("referenced in RPN expression (n = 0, .0, ..0) "));
}

namespace ts {
namespace {

// Errors travel beyond the run (reports, a run's outcome, the farthest
// failure): what they name must be theirs, not the freed run's nodes.
TEST(Engine, ErrorsOutliveTheRunAndTheModel) {
    std::unique_ptr<Exception> mismatch, tooDeep;
    {
        Engine e("\"pair\" =\n  \"key\" % LAT+\n  FAIL \"no equals\" = ;\n", "abc;");
        try {
            e.Run();
        } catch (const ETsmMismatch& m) {
            mismatch = m.Clone();
        }
        Engine deep("(loop)\n  \"L\"\n    loop\nloop\n", "");
        deep.compiler().Limits.MaxDepth = 20;
        try {
            deep.Run();
        } catch (const ETsmTooDeep& d) {
            tooDeep = d.Clone();
        }
    }
    ASSERT_TRUE(mismatch && tooDeep);
    const auto& m = dynamic_cast<const ETsmMismatch&>(*mismatch);
    EXPECT_EQ(m.NodeName, u"FAIL");
    EXPECT_GT(m.NodeID, 0);
    EXPECT_THAT(WideToUtf8(m.Message()), HasSubstr("no equals"));
    const auto& d = dynamic_cast<const ETsmTooDeep&>(*tooDeep);
    EXPECT_THAT(WideToUtf8(d.NodeText), HasSubstr("'L'"));
}

}  // namespace
}  // namespace ts

namespace ts {
namespace {

TEST(Engine, RunsEndWhenTheResultTreeOrTheMemoryPassesItsBound) {
    // One result node for each "x".
    Engine atLimit("END? eof\n\"x\" = x\n", std::string(10, 'x'));
    atLimit.compiler().Limits.MaxResultNodes = 10;
    EXPECT_EQ(atLimit.Run().ResultRoot()->ChildCount(), 10);
    Engine past("END? eof\n\"x\" = x\n", std::string(11, 'x'));
    past.compiler().Limits.MaxResultNodes = 10;
    EXPECT_EQ(past.RunError<ETsmTooLarge>(),
              "The result tree has grown past 10 nodes, the most a run may make; input: @11 <eof>.");

    // Nodes that a failed alternative made and gave back do not count: at
    // most three "w" and a "t" with its "u" live at once.
    const char* retry = "END? eof\n^ \"t\" =\n  1 \"u\" = x\n  2 \"v\" = y\n\"w\" = x\n";
    Engine discarded(retry, "xxxx");
    discarded.compiler().Limits.MaxResultNodes = 5;
    EXPECT_EQ(Outline(discarded.Run()), "w [x]\nw [x]\nw [x]\nw [x]\n");

    // The process may grow only so much while a run lasts.
    Engine big("END? eof\n\"x\" = x\n", std::string(20000, 'x'));
    big.compiler().Limits.MaxMemory = 1 << 20;
    EXPECT_THAT(big.RunError<ETsmTooLarge>(), HasSubstr("MiB it may take"));
    Engine fits("END? eof\n\"x\" = x\n", std::string(20000, 'x'));
    EXPECT_EQ(fits.Run().ResultRoot()->ChildCount(), 20000);
    EXPECT_GT(TTsmLimits::DefaultMaxMemory(), int64_t{1} << 28);
}

}  // namespace
}  // namespace ts

namespace ts {
namespace {

// A stream of a given size that reads as "x" everywhere, without the memory.
class TSizedStream : public TStream {
public:
    explicit TSizedStream(int64_t size) : size_(size) {}
    int64_t Read(void* buffer, int64_t count) override {
        const int64_t n = std::max<int64_t>(0, std::min(count, size_ - pos_));
        std::memset(buffer, 'x', static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        pos_ = origin == TSeekOrigin::soBeginning ? offset
               : origin == TSeekOrigin::soCurrent ? pos_ + offset
                                                  : size_ + offset;
        return pos_;
    }

private:
    int64_t size_, pos_ = 0;
};

TEST(Engine, InputsUpToTheOffsetRangeCanBeModelled) {
    test::Compiled model = test::CompileModel("\"x\" = x\n");
    // The largest input spans can address: the run starts (and stops at
    // the first node, leaving the rest).
    TSizedStream atLimit(INT32_MAX);
    model.compiler->OnError = [](TTsObject&, Exception&) {};
    model.compiler->Options.LineBreak = u"\n";  // not detected over 2 GiB
    EXPECT_EQ(model.compiler->Modell(atLimit)->ResultRoot()->ChildCount(), 1);
    TSizedStream onePast(int64_t{INT32_MAX} + 1);
    try {
        model.compiler->Modell(onePast);
        ADD_FAILURE() << "an input past the offset range was modelled";
    } catch (const ETsmModelling& e) {
        EXPECT_EQ(WideToUtf8(e.Message()),
                  "Input of 2147483648 bytes is too large to model; at most 2147483647 bytes can be.");
    }
}

}  // namespace
}  // namespace ts

namespace {

// Everything a run shows: the outline or the error, each step event, and
// the farthest failure's explanation.
std::string RunShows(Engine& e) {
    std::string shown;
    e.compiler().OnModellingStep = [&](TTsmNode& node, TTsmStepKind kind, const TTsArg& value) {
        shown += WideToUtf8(node.Props.Name) + ":" + std::to_string(static_cast<int32_t>(kind)) + ":";
        if (value.Type() == vtInteger)
            shown += std::to_string(value.AsInt());
        else if (value.AsObj())
            shown += WideToUtf8(value.AsObj()->ClassName());
        shown += " @" + std::to_string(e.input.Position()) + "\n";
    };
    TTsmFarthestFailure farthest(e.compiler());
    e.input.SetPosition(0);
    try {
        shown += Outline(e.Run());
    } catch (const Exception& x) {
        shown += WideToUtf8(x.ClassName()) + ": " + WideToUtf8(x.Message()) + "\n";
    }
    shown += WideToUtf8(farthest.ExpectedText()) + "\n" + WideToUtf8(farthest.ChainText()) + "\n";
    e.compiler().OnModellingStep = nullptr;
    return shown;
}

}  // namespace

TEST(Engine, DirectMatchersRunAsTheirExpressions) {
    // Every matcher operator, negated ones too; the second input fails on
    // its last line.
    const char* model =
        "END? eof\n"
        "LINE\n"
        "  \"blank\"? eof\n"
        "  \"comment\" % SP* #\n"
        "  \"stars\" x 2A2A\n"
        "  \"semi\" = ;\n"
        "  \"pair\" !x 3B\n"
        "    .? \"key\" % ID+ | DIG+\n"
        "    . _ =\n"
        "    .? \"value\" % SP* ANY*\n";
    for (const char* input : {"a = 1\n# c\n**\n;\n\nb=2\n  7 =x\n", "a = 1\n**\nb=2\nbad line\n"}) {
        Engine direct(model, input);
        Engine viaExpression(model, input);
        // Handlers of the caller's that decline: the expression runs and the
        // library's function answers.
        for (std::u16string_view name : {u"cmp_eq", u"cmp_space", u"cmp_hex", u"cmp_pat"})
            viaExpression.compiler().Functions->RegisterHandler(name, [](TTsFuncContext& ctx) {
                ctx.Target = nullptr;
                return false;
            });
        EXPECT_EQ(RunShows(direct), RunShows(viaExpression)) << input;
    }
}

TEST(Engine, HandlersOfTheCallerUnderMatcherNamesComeFirst) {
    const char* model = "\"word\" = abc\n  \"rest\" % ANY*\n";
    int calls = 0;
    auto mine = [&](TTsFuncContext& ctx) {
        ++calls;
        TRpnValueStack& stack = ctx.Expression->Evaluator()->Stack();
        stack.Pop();
        stack.Pop();
        ctx.Expression->Stream->SetPosition(2);
        ctx.Target->AssignBool(true);
        return true;
    };
    // Registered before the model is compiled.
    auto tree = test::ReadModel(model);
    TTsmCompiler compiler;
    compiler.Functions->RegisterHandler(u"cmp_eq", mine);
    compiler.Compile(*tree);
    compiler.Options.LineBreak = u"\n";
    TStringStream in("xyz");
    EXPECT_EQ(Outline(*compiler.Modell(in)), "word [xy] {z}\n  rest [z]\n");
    EXPECT_EQ(calls, 1);

    // Registered after a run that tested directly: the next run asks it.
    Engine e(model, "xyz");
    EXPECT_THAT(e.RunError<ETsmNoMatchingNode>(), HasSubstr("input: @0 x y z <eof>."));
    e.compiler().Functions->RegisterHandler(u"cmp_eq", mine);
    e.input.SetPosition(0);
    EXPECT_EQ(Outline(e.Run()), "word [xy] {z}\n  rest [z]\n");
    EXPECT_EQ(calls, 2);
}

// A streaming run: each record of the root reaches OnRecordsDone alone and
// complete, and freeing it leaves the slicer holding only the input, over a
// copied line per record (a stream that is not memory) as over views.
TEST(Engine, RecordsArriveOneByOneAndAreFreed) {
    struct TFileLike : TStringStream {
        using TStringStream::TStringStream;
    };
    const char* model = "END? eof\nLINE\n  \"pair\" =\n    1 \"key\" % ID+\n    2 % =\n    3 \"value\" % ANY*\n";
    std::string text;
    for (int i = 0; i < 300; ++i) text += "k" + std::to_string(i) + "=" + std::to_string(i * 7) + "\n";
    for (bool memory : {true, false}) {
        SCOPED_TRACE(memory ? "views" : "copies");
        test::Compiled m = test::CompileModel(model);
        TTsmCompiler& c = *m.compiler;
        c.Options.LineBreak = u"\n";
        std::vector<std::string> records;
        int mostStreams = 0, mostViews = 0, calls = 0;
        c.OnRecordsDone = [&](TTsTreeNode& root) {
            TTsmSlicer& s = c.ModellingSlicer();
            // END succeeds at the end of the input without a record.
            if (root.ChildCount() == 0) return;
            ++calls;
            ASSERT_EQ(root.ChildCount(), 1) << "one record at a time";
            const TTsTreeNode* pair = root.ChildByIndex(0);
            records.push_back(s.TextOfNode(pair->FirstChild(u"key"), u"startGlobal") + "=" +
                              s.TextOfNode(pair->FirstChild(u"value"), u"start"));
            mostStreams = std::max(mostStreams, s.StreamCount());
            mostViews = std::max(mostViews, s.ViewCount());
            EXPECT_EQ(c.FreeRecords(), 3) << "the pair, its key and its value";
            EXPECT_EQ(root.ChildCount(), 0);
            EXPECT_EQ(c.CurrentRun()->RunState->LiveResults, 0);
            EXPECT_EQ(s.StreamCount(), 1) << "only the input stays";
            EXPECT_EQ(s.ViewCount(), 0);
        };
        std::unique_ptr<TStream> in = memory ? std::make_unique<TStringStream>(RawByteString(text))
                                             : std::make_unique<TFileLike>(RawByteString(text));
        std::unique_ptr<TTsmSlicer> s = c.Modell(*in);
        EXPECT_EQ(calls, 300);
        ASSERT_EQ(records.size(), 300u);
        EXPECT_EQ(records[0], "k0=0");
        EXPECT_EQ(records[299], "k299=2093");
        EXPECT_LE(mostStreams, memory ? 1 : 2);
        EXPECT_LE(mostViews, memory ? 1 : 0);
        // The root's own spans still read the whole input.
        EXPECT_EQ(s->TextOfNode(s->ResultRoot(), u"innerGlobal"), text);
        EXPECT_EQ(s->ResultRoot()->ChildCount(), 0);
    }
}

// A node reference to an earlier record finds it in a whole run and finds
// nothing once records are freed as they come.
TEST(Engine, ReferencesToFreedRecordsFindNothing) {
    const char* model =
        "END? eof\n"
        "\"later\"? .first? has\n"
        "  LINE\n"
        "    \"text\" % ANY*\n"
        "\"first\"? 1 1 =\n"
        "  LINE\n"
        "    \"text\" % ANY*\n";
    auto names = [](TTsmSlicer& s) {
        std::string out;
        for (int i = 0; i < s.ResultRoot()->ChildCount(); ++i)
            out += WideToUtf8(s.ResultRoot()->ChildByIndex(i)->Name()) + " ";
        return out;
    };
    Engine whole(model, "a\nb\nc\n");
    EXPECT_EQ(names(whole.Run()), "first later later ");

    Engine streamed(model, "a\nb\nc\n");
    std::string seen;
    streamed.compiler().OnRecordsDone = [&](TTsTreeNode& root) {
        if (root.ChildCount()) seen += WideToUtf8(root.ChildByIndex(0)->Name()) + " ";
        streamed.compiler().FreeRecords();
    };
    streamed.Run();
    EXPECT_EQ(seen, "first first first ");
    // Outside a run there is nothing to free.
    EXPECT_THROW(streamed.compiler().FreeRecords(), ETsmNoModellingSlicer);
}

// Progress reports how far the base input has been read, rising, a few
// times per run rather than at every step.
TEST(Engine, ProgressFollowsTheBaseInput) {
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "k" + std::to_string(i) + "=v\n";
    Engine e("END? eof\nLINE\n  \"pair\" =\n    1 \"key\" % ID+\n    2 % =\n    3 \"value\" % ANY*\n", text);
    std::vector<int64_t> seen;
    e.compiler().OnProgress = [&](int64_t position) { seen.push_back(position); };
    e.Run();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_LT(seen.size(), 40u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GT(seen.front(), 0);
    EXPECT_LE(seen.back(), static_cast<int64_t>(text.size()));
}
