// Compiling generated models of 10,000 and 20,000 nodes (reading excluded):
// compile time should grow in step with the model.
#include <benchmark/benchmark.h>

#include <string>

#include "bench/BenchSupport.h"
#include "library/modelling/TsmCompiler.h"
#include "library/text/TsNativeReader.h"

using namespace ts;

namespace {

// Groups of twelve lines that use what a real model uses: definitions,
// merge references, inheritance, overlays, ordered children and nesting.
std::string GeneratedModel(int nodes) {
    std::string text;
    for (int g = 0; g * 12 < nodes; ++g) {
        const std::string n = std::to_string(g);
        text += "(@def" + n +
                ") = d\n"
                "  1 a = a\n"
                "  2 b = b\n"
                "    c % SP+\n"
                "use" +
                n + " + def" + n +
                " = u\n"
                "  x... = x\n"
                "  @a = y\n"
                "grp" +
                n +
                " = g\n"
                "  (@inner) = i\n"
                "    k = k\n"
                "  @inner = j\n"
                "  leaf % ANY\n";
    }
    return text;
}

void CompileGenerated(benchmark::State& state) {
    auto tree = TTsmNativeStreamer::ReadFrom(
        std::make_unique<TStringStream>(GeneratedModel(static_cast<int>(ts::bench::Scaled(state.range(0))))));
    size_t table = 0;
    int defined = 0;
    for (auto _ : state) {
        TTsmCompiler compiler;
        compiler.Compile(*tree);
        table = compiler.Table.size();
        defined = compiler.Machine->Defined.Count();
        benchmark::DoNotOptimize(table);
    }
    // Model lines (the root included) and compiled records after merging.
    state.counters["nodes"] = static_cast<double>(defined);
    state.counters["table"] = static_cast<double>(table);
}
BENCHMARK(CompileGenerated)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

void DumpGenerated(benchmark::State& state) {
    auto tree = TTsmNativeStreamer::ReadFrom(
        std::make_unique<TStringStream>(GeneratedModel(static_cast<int>(ts::bench::Scaled(state.range(0))))));
    TTsmCompiler compiler;
    compiler.Compile(*tree);
    for (auto _ : state) {
        auto dump = compiler.DumpCompiled(0);
        benchmark::DoNotOptimize(dump.get());
    }
}
BENCHMARK(DumpGenerated)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace
