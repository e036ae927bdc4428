// Running a simple line model over 10 MiB of "key = value" lines with
// comments and blank lines: the engine's cost per line and per byte.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>

#include "bench/BenchSupport.h"
#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmExplain.h"
#include "library/text/TsNativeReader.h"

namespace {

const char* const kModel =
    "END? eof\n"
    "LINE\n"
    "  \"blank\"? eof\n"
    "  \"comment\" % SP* #\n"
    "  \"pair\" =\n"
    "    .? \"key\" % ID+\n"
    "    . _ =\n"
    "    .? \"value\" % SP* ANY*\n";

std::string Input(size_t bytes) {
    static const char* const kLines[] = {
        "# settings of the test server\n",        "host_name = test.example.org\n", "port = 8080\n", "\n",
        "greeting=Hello, world of line models\n", "timeout_seconds   =   30\n",
    };
    std::string text;
    text.reserve(bytes + 64);
    for (size_t i = 0; text.size() < bytes; ++i) text += kLines[i % std::size(kLines)];
    return text;
}

// explained: with the farthest-failure listener, as `tessarine run` has it;
// without it the engine makes no step events and no forgiven mismatches.
void Run(benchmark::State& state, bool explained) {
    auto tree = ts::TTsmNativeStreamer::ReadFrom(std::make_unique<ts::TStringStream>(kModel));
    ts::TTsmCompiler compiler;
    compiler.Compile(*tree);
    compiler.Options.LineBreak = u"\n";
    ts::TStringStream input(Input(static_cast<size_t>(ts::bench::Scaled(10 << 20))));
    std::optional<ts::TTsmFarthestFailure> farthest;
    if (explained) farthest.emplace(compiler);
    int64_t lines = 0, nodes = 0, kept = 0;
    for (auto _ : state) {
        input.Seek(0, ts::TSeekOrigin::soBeginning);
        const int64_t before = ts::bench::HeapInUse();
        auto result = compiler.Modell(input);
        kept = ts::bench::HeapInUse() - before;
        lines = result->ResultRoot()->ChildCount();
        nodes = ts::bench::NodeCount(*result->ResultRoot());
        benchmark::DoNotOptimize(result.get());
    }
    state.counters["lines"] = static_cast<double>(lines);
    // What the result keeps (tree, properties, line streams) per result node
    // and per byte of input.
    state.counters["bytes_per_node"] = static_cast<double>(kept) / static_cast<double>(nodes);
    state.counters["heap_per_input_byte"] = static_cast<double>(kept) / static_cast<double>(input.Size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * input.Size());
}
// The same model over 1, 2, 4 and 8 MiB of the same lines: time and the heap
// the result keeps should both double with the input.
void LineModelScaling(benchmark::State& state) {
    auto tree = ts::TTsmNativeStreamer::ReadFrom(std::make_unique<ts::TStringStream>(kModel));
    ts::TTsmCompiler compiler;
    compiler.Compile(*tree);
    compiler.Options.LineBreak = u"\n";
    ts::TStringStream input(Input(static_cast<size_t>(ts::bench::Scaled(state.range(0) << 20))));
    int64_t kept = 0;
    for (auto _ : state) {
        input.Seek(0, ts::TSeekOrigin::soBeginning);
        const int64_t before = ts::bench::HeapInUse();
        auto result = compiler.Modell(input);
        kept = ts::bench::HeapInUse() - before;
        benchmark::DoNotOptimize(result.get());
    }
    state.counters["kept_MiB"] = static_cast<double>(kept) / (1 << 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * input.Size());
}
BENCHMARK(LineModelScaling)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

void LineModel(benchmark::State& state) { Run(state, false); }
void LineModelExplained(benchmark::State& state) { Run(state, true); }
BENCHMARK(LineModel)->Unit(benchmark::kMillisecond);
BENCHMARK(LineModelExplained)->Unit(benchmark::kMillisecond);

}  // namespace
