// Loading scripts through the canonical script model: a small script (where
// compiling the model dominates) and larger ones whose sections grow, to see
// that reading sections, line indexes and texts stays linear.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchSupport.h"
#include "library/script/TsScript.h"

using namespace ts;

namespace {

RawByteString MakeScript(int sections, int linesPerSection) {
    RawByteString text = "Tessarine 0.79 || benchmark\nA generated script.\n";
    for (int s = 0; s < sections; ++s) {
        text += s == 0 ? "== Model ==\n" : "== Section " + std::to_string(s) + " ==\n";
        for (int l = 0; l < linesPerSection; ++l) text += "line " + std::to_string(l) + " of some ordinary text\n";
        text += "===[>= 0.7 < 1.0] part ===\nmore\n\n";
    }
    return text;
}

void BM_LoadScript(benchmark::State& state) {
    const RawByteString text =
        MakeScript(static_cast<int>(ts::bench::Scaled(state.range(0))), static_cast<int>(state.range(1)));
    TTsScript script;
    for (auto _ : state) {
        TMemoryStream in(text);
        script.Load(in);
        benchmark::DoNotOptimize(script.SectionCount());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

}  // namespace

BENCHMARK(BM_LoadScript)
    ->Args({1, 5})
    ->Args({10, 20})
    ->Args({100, 20})
    ->Args({1000, 20})
    ->Unit(benchmark::kMillisecond);
