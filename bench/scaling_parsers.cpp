// How each parser's time grows with its input: every benchmark runs the
// worst shape we know for one parser at N, 2N and 4N, so a cost that grows
// faster than the input shows as a ratio above 2 between neighbours.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/BenchSupport.h"
#include "library/core/TsNodes.h"
#include "library/expressions/TsConditions.h"
#include "library/expressions/rpn/RPNit.h"
#include "library/expressions/rpn/Simpat.h"
#include "library/modelling/TsmCompiler.h"
#include "library/modelling/merge/MergeMachine.h"
#include "library/script/TsScript.h"
#include "library/text/TsNativeReader.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"

using namespace ts;

namespace {

int Size(const benchmark::State& state) { return static_cast<int>(ts::bench::Scaled(state.range(0))); }

// Input: a model of N lines, each indented one level deeper than the one
// before (at most 999 levels), every line a node with a pattern condition.
// The text itself grows with the square of N (N * N bytes of indentation).
std::string IndentedModel(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += std::string(static_cast<size_t>(2 * (i % 999)), ' ') + "n % LAT+\n";
    return text;
}

void NativeReaderNesting(benchmark::State& state) {
    const std::string text = IndentedModel(Size(state));
    for (auto _ : state) {
        auto root = TTsmNativeStreamer::ReadFrom(std::make_unique<TStringStream>(text));
        benchmark::DoNotOptimize(root.get());
    }
}
BENCHMARK(NativeReaderNesting)->Arg(250)->Arg(500)->Arg(1000)->MinTime(0.2)->Unit(benchmark::kMillisecond);

void ModellingReaderNesting(benchmark::State& state) {
    const std::string text = IndentedModel(Size(state));
    for (auto _ : state) {
        auto root = TTsmModellingStreamer::ReadFrom(std::make_unique<TStringStream>(text));
        benchmark::DoNotOptimize(root.get());
    }
}
BENCHMARK(ModellingReaderNesting)->Arg(250)->Arg(500)->Arg(1000)->MinTime(0.2)->Unit(benchmark::kMillisecond);

// Input: one choice of N "[" characters, none of them closed, parsed afresh
// (the cache would parse it only once).
void SimpatUnclosedSets(benchmark::State& state) {
    const std::string choice(static_cast<size_t>(Size(state)), '[');
    for (auto _ : state) benchmark::DoNotOptimize(ParseSimpatChoice(choice));
}
BENCHMARK(SimpatUnclosedSets)->Arg(4096)->Arg(8192)->Arg(16384)->MinTime(0.2)->Unit(benchmark::kMicrosecond);

// Input: a pattern of N one-letter choices "a|a|...|b" matched against "b":
// every choice is split, looked up in the cache and tried.
void SimpatManyChoices(benchmark::State& state) {
    std::u16string pattern;
    for (int i = 0; i < Size(state); ++i) pattern += u"a|";
    pattern += u"b";
    TStringStream input("b");
    for (auto _ : state) {
        input.SetPosition(0);
        benchmark::DoNotOptimize(MatchSimplePattern(pattern, input, "\n"));
    }
}
BENCHMARK(SimpatManyChoices)->Arg(1000)->Arg(2000)->Arg(4000)->MinTime(0.2)->Unit(benchmark::kMicrosecond);

// Evaluates an expression condition of the text once per iteration, parsed
// afresh (the RPN compile cache emptied), at an empty node.
void RunExpression(benchmark::State& state, const std::u16string& text) {
    bench::TConditionPlace at("x");
    for (auto _ : state) {
        RpnClearCompileCache();
        TTsCondition cond = ParseCondition(text, DefaultConditions(), at.Options).Condition;
        at.Input.SetPosition(0);
        if (!TestCondition(cond, at.Env)) state.SkipWithError("the condition does not hold");
    }
}

// Input: the RPN text "1 1 1 ... + + + 0 >", N operands stacked before the
// first operator (the value stack holds 8192).
void RpnDeepStack(benchmark::State& state) {
    const int n = Size(state);
    std::u16string text = u"?";
    for (int i = 0; i < n; ++i) text += u" 1";
    for (int i = 1; i < n; ++i) text += u" +";
    RunExpression(state, text + u" 0 >");
}
BENCHMARK(RpnDeepStack)->Arg(2000)->Arg(4000)->Arg(8000)->MinTime(0.2)->Unit(benchmark::kMicrosecond);

// Input: the condition "? 1 1 + 1 + ... 0 >" of N terms, each operator right
// after its operand: a long text over a shallow stack.
void ConditionLongExpression(benchmark::State& state) {
    std::u16string text = u"? 1";
    for (int i = 1; i < Size(state); ++i) text += u" 1 +";
    RunExpression(state, text + u" 0 >");
}
BENCHMARK(ConditionLongExpression)->Arg(2000)->Arg(4000)->Arg(8000)->MinTime(0.2)->Unit(benchmark::kMicrosecond);

// Input: a script of N sections of two lines each, loaded through the
// canonical script model.
void ScriptManySections(benchmark::State& state) {
    RawByteString text = "Tessarine 0.79 || benchmark\nA generated script.\n== Model ==\nx = x\n";
    for (int s = 1; s < Size(state); ++s) text += "== Section " + std::to_string(s) + " ==\nline\nline\n";
    TTsScript script;
    for (auto _ : state) {
        TMemoryStream in(text);
        script.Load(in);
        benchmark::DoNotOptimize(script.SectionCount());
    }
}
BENCHMARK(ScriptManySections)->Arg(500)->Arg(1000)->Arg(2000)->MinTime(0.2)->Unit(benchmark::kMillisecond);

// Input: N defined nodes under one root, each merging the next one (n0 + n1,
// n1 + n2, ...): every merge needs the next merged first, N levels deep
// (the ID stack holds 4096).
void MergeChain(benchmark::State& state) {
    const int n = Size(state);
    for (auto _ : state) {
        TMergeMachine m;
        TMmNode* root = m.CreateDefinedNode();
        root->Name = u"r";
        for (int i = 0; i < n; ++i) {
            TMmNode* node = m.CreateDefinedNode();
            node->Parent = root->ID;
            node->Name = u"n" + IntToStr(i);
            if (i + 1 < n) {
                auto ref = std::make_unique<TMmNode>();
                ref->Name = u"n" + IntToStr(i + 1);
                node->RightMerges.Add(std::move(ref));
            }
        }
        m.Merge();
        benchmark::DoNotOptimize(m.Merged.Count());
    }
}
BENCHMARK(MergeChain)->Arg(500)->Arg(1000)->Arg(2000)->MinTime(0.2)->Unit(benchmark::kMillisecond);

// Input: a six-line model whose merge sits inside the definition it merges,
// so that every copy opens a level and holds the merge again. Merging ends
// in an error; this measures how soon.
void MergeKeepsOpeningLevels(benchmark::State& state) {
    auto tree = TTsmNativeStreamer::ReadFrom(
        std::make_unique<TStringStream>("c = c\n  a = a\n    @c\n      (c)\n        (c)\n        c + c = c\n"));
    for (auto _ : state) {
        TTsmCompiler compiler;
        try {
            compiler.Compile(*tree);
            state.SkipWithError("the model merged");
        } catch (const EMergeMachine&) {
        }
    }
}
BENCHMARK(MergeKeepsOpeningLevels)->MinTime(0.2)->Unit(benchmark::kMillisecond);

// Input: N bytes of "(" then N of ")", modelled by a node that calls itself
// once per "(": 2N + 2 model nodes nested inside each other (the engine
// allows 1000).
void EngineNesting(benchmark::State& state) {
    const int n = Size(state);
    auto tree = TTsmNativeStreamer::ReadFrom(
        std::make_unique<TStringStream>("(nest)\n  \"n\" = (\n    .^ nest\n    . = )\nnest\n"));
    TTsmCompiler compiler;
    compiler.Compile(*tree);
    TStringStream input(std::string(static_cast<size_t>(n), '(') + std::string(static_cast<size_t>(n), ')'));
    for (auto _ : state) {
        input.SetPosition(0);
        auto result = compiler.Modell(input);
        benchmark::DoNotOptimize(result.get());
    }
}
BENCHMARK(EngineNesting)->Arg(120)->Arg(240)->Arg(480)->MinTime(0.2)->Unit(benchmark::kMillisecond);

}  // namespace
