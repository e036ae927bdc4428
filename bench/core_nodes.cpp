// The node tree's hot paths: appending children with a lookup after each,
// deep chains built and freed, property lookups, and finder Make/Next.
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "library/core/TsNodePaths.h"
#include "library/core/TsNodes.h"
#include "support/Strings.h"

namespace {

using namespace ts;

void WideTreeAppendAndLookup(benchmark::State& state) {
    const int n = static_cast<int>(ts::bench::Scaled(state.range(0)));
    std::vector<WideString> names;
    for (int i = 0; i < n; ++i) names.push_back(u"node" + IntToStr(i));
    for (auto _ : state) {
        TTsTreeNode root(u"r");
        for (int i = 0; i < n; ++i) {
            root.AddChild(names[static_cast<size_t>(i)]);
            benchmark::DoNotOptimize(root.FirstChild(names[static_cast<size_t>(i / 2)]));
        }
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(WideTreeAppendAndLookup)->Arg(1000)->Arg(100000);

void DeepChainBuildAndFree(benchmark::State& state) {
    const int n = static_cast<int>(ts::bench::Scaled(state.range(0)));
    for (auto _ : state) {
        auto root = std::make_unique<TTsTreeNode>(u"r");
        TTsTreeNode* node = root.get();
        for (int i = 0; i < n; ++i) node = node->AddChild(u"d");
        benchmark::DoNotOptimize(node);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(DeepChainBuildAndFree)->Arg(100000);

void PropertyFind(benchmark::State& state) {
    const int n = static_cast<int>(ts::bench::Scaled(state.range(0)));
    TTsTreeNode node(u"n");
    std::vector<WideString> names;
    for (int i = 0; i < n; ++i) {
        names.push_back(u"mProperty" + IntToStr(i));
        node.Props().SetValue(names.back(), TTsValue::FromInt(i));
    }
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(node.Props().Find(names[i]));
        if (++i == names.size()) i = 0;
    }
}
BENCHMARK(PropertyFind)->Arg(6)->Arg(20)->Arg(10000);

// 1,000 nodes with the properties a model line gives its node (a span-like
// source, two texts, an order and eight flags), built and freed: the time
// and the heap a node and each of its properties keep.
void NodesWithModelProperties(benchmark::State& state) {
    static const char16_t* const kFlags[] = {u"mIsResetter",   u"mIsOptional",   u"mIsTentative",  u"mIsOnce",
                                             u"mIsOffContext", u"mIsInheriting", u"mIsPrepending", u"mIsNonConsuming"};
    const int n = static_cast<int>(ts::bench::Scaled(1000));
    int64_t nodesKept = 0, propsKept = 0;
    for (auto _ : state) {
        const int64_t before = ts::bench::HeapInUse();
        TTsTreeNode root(u"r");
        for (int i = 0; i < n; ++i) root.AddChild(u"record");
        const int64_t withNodes = ts::bench::HeapInUse();
        for (int i = 0; i < n; ++i) {
            TTsProperties& p = root.ChildByIndex(i)->Props();
            TTsValue source = TTsValue::FromInt(i);
            p.SetValue(u"source", source);
            p.SetValue(u"mPath", TTsValue::FromStr(u"a"));
            p.SetValue(u"mCond", TTsValue::FromStr(u"= x"));
            p.SetValue(u"mOrder", TTsValue::FromInt(0));
            for (const char16_t* f : kFlags) p.SetValue(f, TTsValue::FromBool(false));
        }
        nodesKept = withNodes - before;
        propsKept = ts::bench::HeapInUse() - withNodes;
        benchmark::DoNotOptimize(root.ChildByIndex(0));
    }
    // A bare node (with its share of the parent's entries), and a property
    // with its share of the entries it makes its node hold.
    state.counters["bytes_per_node"] = static_cast<double>(nodesKept) / n;
    state.counters["bytes_per_property"] = static_cast<double>(propsKept) / (n * 12.0);
    state.SetItemsProcessed(state.iterations() * n * 12);
}
BENCHMARK(NodesWithModelProperties);

void FormulaFinderMake(benchmark::State& state) {
    for (auto _ : state) {
        TTsTreeNode root(u"r");
        TTsNodeFormulaFinder f(&root, u"+line\\+item[n]\\value");
        for (int i = 0; i < 1000; ++i) {
            f.N = i % 10;
            benchmark::DoNotOptimize(f.Make());
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(FormulaFinderMake);

void FinderEnumerate(benchmark::State& state) {
    TTsTreeNode root(u"r");
    for (int i = 0; i < 100; ++i) {
        TTsTreeNode* a = root.AddChild(i % 2 ? u"a" : u"b");
        for (int j = 0; j < 100; ++j) a->AddChild(j % 3 ? u"c" : u"d");
    }
    TTsNodeFinder f(&root, u"a\\c");
    for (auto _ : state) {
        f.Rewind(u"a\\c");
        int n = 0;
        while (f.Next()) ++n;
        benchmark::DoNotOptimize(n);
    }
}
BENCHMARK(FinderEnumerate);

}  // namespace
