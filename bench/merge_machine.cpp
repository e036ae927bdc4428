// Merging a generated structure: a wide root holding one definition and many
// sections that inherit it (with an overlay), take it over through a merge
// reference, and add plain children. Ten defined nodes per section.
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "library/modelling/merge/MergeMachine.h"
#include "support/Strings.h"

using namespace ts;

namespace {

TMmID Add(TMergeMachine& m, TMmID parent, const WideString& name, bool inheriting = false, bool offContext = false) {
    TMmNode* n = m.CreateDefinedNode();
    n->Parent = parent;
    n->Name = name;
    n->IsInheriting = inheriting;
    n->IsOffContext = offContext;
    return n->ID;
}

void Define(TMergeMachine& m, int nodes) {
    TMmID root = Add(m, -1, u"root");
    TMmID def = Add(m, root, u"def", false, true);
    Add(m, def, u"a");
    Add(m, Add(m, def, u"b"), u"b1");
    Add(m, def, u"c");
    for (int s = 0; m.Defined.Count() + 10 <= nodes; ++s) {
        TMmID sec = Add(m, root, u"sec" + IntToStr(s));
        TMmID inh = Add(m, sec, u"def", true);
        Add(m, Add(m, inh, u"b", true), u"b2");
        TMmID user = Add(m, sec, u"user");
        auto ref = std::make_unique<TMmNode>();
        ref->Name = u"def";
        m.Defined[user].RightMerges.Add(std::move(ref));
        for (int i = 0; i < 5; ++i) Add(m, sec, u"leaf" + IntToStr(i));
    }
}

void BM_Merge(benchmark::State& state) {
    const int nodes = static_cast<int>(ts::bench::Scaled(state.range(0)));
    int merged = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto m = std::make_unique<TMergeMachine>();
        Define(*m, nodes);
        state.ResumeTiming();
        m->Merge();
        merged = m->Merged.Count();
        state.PauseTiming();
        m.reset();
        state.ResumeTiming();
    }
    state.counters["merged"] = merged;
    state.counters["nodes/s"] =
        benchmark::Counter(static_cast<double>(nodes), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_Merge)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);
