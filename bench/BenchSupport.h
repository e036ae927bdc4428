// What every benchmark shares: the size of its input, shrunk for the smoke
// run that only checks that each benchmark still builds and runs, the heap
// in use, by which a benchmark reports what a tree costs per node, and the
// place at which the condition benchmarks test.
#pragma once

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "library/core/TsNodes.h"
#include "library/expressions/TsConditions.h"

namespace ts::bench {

// n, or n / 100 (at least 1) when TS_BENCH_SMOKE is set.
inline int64_t Scaled(int64_t n) {
    static const bool smoke = std::getenv("TS_BENCH_SMOKE") != nullptr;
    return smoke ? std::max<int64_t>(1, n / 100) : n;
}

// Bytes of the heap handed out and not yet given back, over all arenas and
// large mappings: its growth over a piece of work is what the work keeps.
inline int64_t HeapInUse() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<int64_t>(m.uordblks + m.hblkhd);
}

// Nodes of a tree: the root and everything below it.
template <class Node>
int64_t NodeCount(const Node& root) {
    int64_t n = 0;
    std::vector<const Node*> todo{&root};
    while (!todo.empty()) {
        const Node* node = todo.back();
        todo.pop_back();
        ++n;
        for (int i = 0; i < node->ChildCount(); ++i) todo.push_back(node->ChildByIndex(i));
    }
    return n;
}

// Conditions tested at the start of an input, with an empty root node as
// their base and the default options.
struct TConditionPlace {
    explicit TConditionPlace(std::string input) : Input(std::move(input)) {
        Env.Options = Options;
        Env.BaseNode = Root.get();
        Env.Input = &Input;
    }
    TTsOptions Options;
    TStringStream Input;
    std::unique_ptr<TTsTreeNode> Root = std::make_unique<TTsTreeNode>(u"root");
    TTsCondEnvironment Env;
};

}  // namespace ts::bench
