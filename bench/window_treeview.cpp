// Filling the window's tree view with a compiled tree of 10,000 nodes, in a
// real QTreeWidget on the offscreen platform, up to its first paint.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTreeWidget>

#include "debugger/driver/TsdbgCompiler.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "debugger/window/TsdbgTreeView.h"
#include "support/Strings.h"

namespace {

using namespace ts;

// 100 groups of 99 nodes each, so the tree has depth as well as breadth.
std::vector<TTreeLine> CompiledLines(std::unique_ptr<TTsTreeNode>& result) {
    WideString text;
    for (int g = 0; g < 100; ++g) {
        text += u"g" + IntToStr(g) + u" =\r\n";
        for (int i = 0; i < 99; ++i) text += u"  n" + IntToStr(i) + u" = x\r\n";
    }
    std::unique_ptr<TTsTreeNode> source = ReadModelText(text, TModelReader::Native);
    TTsdbgCompiler compiler;
    compiler.SetPhase(2);
    compiler.Compile(*source);
    result = BuildResultTree(compiler, compiler.CurrentPhase);
    return RenderTree(*result);
}

// Set up as the window's tree view is.
void ShowView(QTreeWidget& view) {
    view.setHeaderHidden(true);
    view.setIndentation(19);
    view.setUniformRowHeights(true);
    view.resize(400, 560);
    view.show();
}

void BM_FillTreeView(benchmark::State& state) {
    std::unique_ptr<TTsTreeNode> result;
    const std::vector<TTreeLine> lines = CompiledLines(result);
    QTreeWidget view;
    ShowView(view);
    TNodeLinks links;
    for (auto _ : state) {
        FillTreeView(view, lines, links);
        view.repaint();
        QCoreApplication::processEvents();
    }
    state.counters["nodes"] = static_cast<double>(links.Count());
    state.counters["items"] = static_cast<double>(lines.size());
}
BENCHMARK(BM_FillTreeView)->Unit(benchmark::kMillisecond);

// The baseline: each item added to the shown tree as it is made, its parent
// expanded at once, as a node-by-node rendering would do it.
void BM_FillTreeViewItemByItem(benchmark::State& state) {
    std::unique_ptr<TTsTreeNode> result;
    const std::vector<TTreeLine> lines = CompiledLines(result);
    QTreeWidget view;
    ShowView(view);
    for (auto _ : state) {
        view.clear();
        std::vector<QTreeWidgetItem*> open;
        for (const TTreeLine& line : lines) {
            const size_t depth = static_cast<size_t>(line.Depth);
            QTreeWidgetItem* parent = depth > 0 ? open[depth - 1] : nullptr;
            auto* item = new QTreeWidgetItem();
            item->setText(0, QString::fromStdU16String(line.Text));
            if (parent) {
                parent->addChild(item);
                if (line.IsNode) parent->setExpanded(true);
            } else {
                view.addTopLevelItem(item);
            }
            open.resize(depth);
            open.push_back(item);
        }
        view.repaint();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_FillTreeViewItemByItem)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
