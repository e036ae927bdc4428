// Benchmarks of the RPN evaluator: a cached expression compiled (a cache hit)
// and evaluated by a fresh evaluator, as the expression layer does per test.
#include <benchmark/benchmark.h>

#include "library/expressions/rpn/RPNit.h"

using namespace ts;

static void BM_RpnCachedCompileAndEvaluate(benchmark::State& state) {
    const std::u16string_view text = u"1 2 + 3 * 4,5 - 2 ^ 7 %";
    RpnCompile(text);  // warm the cache
    for (auto _ : state) {
        auto list = RpnCompile(text);
        TRpnEvaluator ev(*list);
        TRpnScalar r;
        ev.Evaluate(r);
        benchmark::DoNotOptimize(r.Num);
    }
}
BENCHMARK(BM_RpnCachedCompileAndEvaluate);

static void BM_RpnCachedWithVariables(benchmark::State& state) {
    const std::u16string_view text = u"width height * count +";
    RpnCompile(text);
    for (auto _ : state) {
        auto list = RpnCompile(text);
        TRpnEvaluator ev(*list);
        ev.OnVariable = [](TRpnEvaluator&, const WideString& name, TRpnScalar& v) {
            v = TRpnScalar::FromNum(static_cast<double>(name.size()));
        };
        TRpnScalar r;
        ev.Evaluate(r);
        benchmark::DoNotOptimize(r.Num);
    }
}
BENCHMARK(BM_RpnCachedWithVariables);

static void BM_RpnCompileUncached(benchmark::State& state) {
    TRpnCompileSettings s;
    s.UseCache = false;
    for (auto _ : state) benchmark::DoNotOptimize(RpnCompile(u"1 2 + 3 * 4,5 - 2 ^ 7 %", s));
}
BENCHMARK(BM_RpnCompileUncached);
