// Reading a generated model text of about 20,000 lines with each text model
// reader: the hand-written native reader and the modelling reader, which
// runs the canonical model over the text. Their ratio is the price of
// reading models with the library's own engine.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchSupport.h"
#include "library/text/TsNativeReader.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"

namespace {

// Typical lines of user models, nested, with comments and blank lines.
std::string GeneratedModel(int lines) {
    static const char* const kLines[] = {
        "; a generated model",
        "(field) % [^,]*",
        "(quoted) = \"",
        "  \"text\" % [^\"]*",
        "  END = \"",
        "",
        "END? eof",
        "LINE",
        "  \"blank\"? eof",
        "  \"comment\" % SP* ; ANY*",
        "  1? \"header\" = [",
        "    \"name\" % [^]]+",
        "    END = ]",
        "  \"record\" =",
        "    .? \"key\"... % ID+",
        "      name + (value...) + more = x",
        "    0? % SP+ + SP+",
        "    .^ quoted + field",
        "    2? field",
        "    != ,",
    };
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += kLines[i % std::size(kLines)];
        text += "\r\n";
    }
    return text;
}

const int kLines = static_cast<int>(ts::bench::Scaled(20000));

void NativeReader(benchmark::State& state) {
    const std::string text = GeneratedModel(kLines);
    int64_t kept = 0, nodes = 0;
    for (auto _ : state) {
        const int64_t before = ts::bench::HeapInUse();
        auto root = ts::TTsmNativeStreamer::ReadFrom(std::make_unique<ts::TStringStream>(text));
        kept = ts::bench::HeapInUse() - before;
        nodes = ts::bench::NodeCount(*root);
        benchmark::DoNotOptimize(root.get());
    }
    state.counters["bytes_per_node"] = static_cast<double>(kept) / static_cast<double>(nodes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(NativeReader)->Unit(benchmark::kMillisecond);

void ModellingReader(benchmark::State& state) {
    const std::string text = GeneratedModel(kLines);
    int64_t kept = 0, nodes = 0;
    for (auto _ : state) {
        const int64_t before = ts::bench::HeapInUse();
        auto root = ts::TTsmModellingStreamer::ReadFrom(std::make_unique<ts::TStringStream>(text));
        kept = ts::bench::HeapInUse() - before;
        nodes = ts::bench::NodeCount(*root);
        benchmark::DoNotOptimize(root.get());
    }
    state.counters["bytes_per_node"] = static_cast<double>(kept) / static_cast<double>(nodes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(ModellingReader)->Unit(benchmark::kMillisecond);

// Both readers over 5,000 to 40,000 lines of the same text: time and the
// heap the tree keeps should both double with the lines.
template <class Reader>
void ReaderScaling(benchmark::State& state) {
    const std::string text = GeneratedModel(static_cast<int>(ts::bench::Scaled(state.range(0))));
    int64_t kept = 0;
    for (auto _ : state) {
        const int64_t before = ts::bench::HeapInUse();
        auto root = Reader::ReadFrom(std::make_unique<ts::TStringStream>(text));
        kept = ts::bench::HeapInUse() - before;
        benchmark::DoNotOptimize(root.get());
    }
    state.counters["kept_MiB"] = static_cast<double>(kept) / (1 << 20);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(ReaderScaling<ts::TTsmNativeStreamer>)
    ->Name("NativeReaderScaling")
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ReaderScaling<ts::TTsmModellingStreamer>)
    ->Name("ModellingReaderScaling")
    ->Arg(5000)
    ->Arg(10000)
    ->Arg(20000)
    ->Arg(40000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
