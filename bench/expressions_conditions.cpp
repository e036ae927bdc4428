// Benchmarks of testing compiled conditions at an input position, as the
// modelling engine does for every child it tries: an exact text that matches
// and one that does not, a simple pattern, and an expression condition.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/BenchSupport.h"

using namespace ts;

namespace {

// A fresh evaluation object per test, or (reuse) one object evaluated again
// and again, as the engine keeps one per model node.
void RunCondition(benchmark::State& state, std::u16string_view text, bool reuse = false) {
    bench::TConditionPlace at("abc def ghi; some more text follows here");
    TTsCondition cond = ParseCondition(text, DefaultConditions(), at.Options).Condition;
    std::unique_ptr<TTsCondExpression> object = CreateConditionObject(cond, at.Env);
    for (auto _ : state) {
        at.Input.SetPosition(0);
        if (reuse)
            benchmark::DoNotOptimize(object->EvaluateValue().Bool);
        else
            benchmark::DoNotOptimize(TestCondition(cond, at.Env));
    }
}

}  // namespace

static void BM_ConditionExactMatch(benchmark::State& state) { RunCondition(state, u"= abc"); }
BENCHMARK(BM_ConditionExactMatch);

static void BM_ConditionExactMismatch(benchmark::State& state) { RunCondition(state, u"= xyz"); }
BENCHMARK(BM_ConditionExactMismatch);

static void BM_ConditionBlanksThenText(benchmark::State& state) { RunCondition(state, u"_ abc"); }
BENCHMARK(BM_ConditionBlanksThenText);

static void BM_ConditionSimplePattern(benchmark::State& state) { RunCondition(state, u"% ID+ SP"); }
BENCHMARK(BM_ConditionSimplePattern);

static void BM_ConditionExpression(benchmark::State& state) { RunCondition(state, u"? $ 'abc' cmp_eq"); }
BENCHMARK(BM_ConditionExpression);

static void BM_ConditionExactMatchReused(benchmark::State& state) { RunCondition(state, u"= abc", true); }
BENCHMARK(BM_ConditionExactMatchReused);

static void BM_ConditionSimplePatternReused(benchmark::State& state) { RunCondition(state, u"% ID+ SP", true); }
BENCHMARK(BM_ConditionSimplePatternReused);

static void BM_ConditionExpressionReused(benchmark::State& state) { RunCondition(state, u"? $ 'abc' cmp_eq", true); }
BENCHMARK(BM_ConditionExpressionReused);
