// The run page's work on a large run: filling a real QTreeWidget with a
// result tree of 100,000 nodes up to its first paint, putting 1 MiB of input
// into the input pane, and finding the node at a click.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <random>

#include "bench/BenchSupport.h"
#include "debugger/driver/TsdbgRun.h"
#include "debugger/window/QtText.h"
#include "debugger/window/TsdbgTreeView.h"
#include "support/Strings.h"

namespace {

using namespace ts;

// 33,333 lines of three nodes each (the line, its key and its value) under
// the root: 100,000 result nodes over about 1 MiB of input.
std::unique_ptr<TModelRun> LargeRun() {
    TModelRunRequest request;
    request.ModelText = u"END? eof\n\"pair\" =\n  1 \"key\" % LAT+\n  2 % =\n  3 \"value\" % [^NL]*\n  4 % NL\n";
    for (int i = 0; i < ts::bench::Scaled(33333); ++i)
        request.Input += "key=value number " + std::to_string(i) + " .........\n";
    request.LineBreak = u"\n";
    std::unique_ptr<TModelRun> run = RunModel(std::move(request));
    if (!run->Succeeded()) throw std::runtime_error("the benchmark's run failed");
    return run;
}

TModelRun& Run() {
    static const std::unique_ptr<TModelRun> run = LargeRun();
    return *run;
}

void BM_FillResultTree(benchmark::State& state) {
    TModelRun& run = Run();
    QTreeWidget view;
    view.setColumnCount(2);
    view.setUniformRowHeights(true);
    view.resize(400, 560);
    view.show();
    TNodeLinks links;
    for (auto _ : state) {
        FillResultTree(view, *run.Result, *run.ResultRoot(), run.Codepage, links);
        view.repaint();
        QCoreApplication::processEvents();
    }
    state.counters["nodes"] = static_cast<double>(links.Count());
}
BENCHMARK(BM_FillResultTree)->Unit(benchmark::kMillisecond);

void BM_FillInputPane(benchmark::State& state) {
    TModelRun& run = Run();
    const QString text = ToQString(Utf8ToWide(run.Input()));
    QPlainTextEdit pane;
    pane.setLineWrapMode(QPlainTextEdit::NoWrap);
    pane.resize(400, 560);
    pane.show();
    for (auto _ : state) {
        pane.setPlainText(text);
        // The positions of the new input are computed once per run.
        benchmark::DoNotOptimize(TInputLines(run.Input(), run.Codepage));
        pane.repaint();
        QCoreApplication::processEvents();
    }
    state.counters["bytes"] = static_cast<double>(run.Input().size());
}
BENCHMARK(BM_FillInputPane)->Unit(benchmark::kMillisecond);

// A click: the pane position to a byte offset, then the deepest node there.
void BM_NodeAtClick(benchmark::State& state) {
    TModelRun& run = Run();
    const TInputLines lines(run.Input(), run.Codepage);
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> line(0, lines.LineCount() - 2);
    for (auto _ : state) {
        const int64_t offset = lines.OffsetOf({line(random), 5});
        benchmark::DoNotOptimize(DeepestNodeAt(*run.ResultRoot(), offset));
    }
}
BENCHMARK(BM_NodeAtClick)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
