// The debugger's tree dump: turning the compiled canonical text model into
// the decorated dump tree, and that tree into the tree view's lines.
#include <benchmark/benchmark.h>

#include "debugger/driver/TsdbgCompiler.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "library/text/CanonicalModels.h"

namespace {

using namespace ts;

struct Compiled {
    std::unique_ptr<TTsTreeNode> source = ReadCanonicalModel(u"Model");
    TTsdbgCompiler compiler;
    explicit Compiled(uint8_t lastPhase) {
        compiler.SetPhase(lastPhase);
        compiler.Compile(*source);
    }
};

void BM_BuildResultTree(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        Compiled c(2);
        state.ResumeTiming();
        benchmark::DoNotOptimize(BuildResultTree(c.compiler, c.compiler.CurrentPhase));
    }
}
BENCHMARK(BM_BuildResultTree);

void BM_RenderTree(benchmark::State& state) {
    Compiled c(2);
    std::unique_ptr<TTsTreeNode> tree = BuildResultTree(c.compiler, c.compiler.CurrentPhase);
    size_t lines = 0;
    for (auto _ : state) {
        std::vector<TTreeLine> l = RenderTree(*tree);
        lines = l.size();
        benchmark::DoNotOptimize(l);
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines));
}
BENCHMARK(BM_RenderTree);

void BM_LinesToText(benchmark::State& state) {
    Compiled c(2);
    std::unique_ptr<TTsTreeNode> tree = BuildResultTree(c.compiler, c.compiler.CurrentPhase);
    std::vector<TTreeLine> lines = RenderTree(*tree);
    for (auto _ : state) benchmark::DoNotOptimize(LinesToText(lines));
}
BENCHMARK(BM_LinesToText);

}  // namespace
