// Reading text models with the native reader: a generated model of typical
// lines, and the canonical text model definition.
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "library/text/CanonicalModels.h"
#include "library/text/TsNativeReader.h"

namespace {

std::string GeneratedModel(int lines) {
    static const char* const kLines[] = {
        "(merge)",
        "  1 name = x",
        "    .? \"isNonConsuming\"... % SP* ID+",
        "    a + b... + (c) + d \"p\\q\" = cond",
        "  ; a comment",
        "  0? % SP+ + SP+",
        "",
        "LINE",
        "  WARN \"Indentation space count must be even to 2.\" % SP",
    };
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += kLines[i % std::size(kLines)];
        text += "\r\n";
    }
    return text;
}

void ReadGeneratedModel(benchmark::State& state) {
    const std::string text = GeneratedModel(static_cast<int>(ts::bench::Scaled(state.range(0))));
    for (auto _ : state) {
        auto root = ts::TTsmNativeStreamer::ReadFrom(std::make_unique<ts::TStringStream>(text));
        benchmark::DoNotOptimize(root.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(ReadGeneratedModel)->Arg(1000)->Arg(10000);

void ReadCanonicalTextModel(benchmark::State& state) {
    for (auto _ : state) {
        auto root = ts::ReadCanonicalModel(u"Model");
        benchmark::DoNotOptimize(root.get());
    }
}
BENCHMARK(ReadCanonicalTextModel);

}  // namespace
