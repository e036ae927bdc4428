// Slicer reads as a model reader makes them: one text path per field of each
// line, against a result that keeps one stream per input line.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "library/core/TsNodes.h"
#include "library/modelling/streams/TsmSlicer.h"

using namespace ts;

namespace {

struct TLines {
    TStringStream input;
    std::unique_ptr<TTsmSlicer> slicer;
    std::vector<TTsTreeNode*> lines;

    explicit TLines(int count) {
        RawByteString text;
        for (int i = 0; i < count; ++i) text += "  item" + std::to_string(i) + " ?cond\r\n";
        input = TStringStream(text);
        slicer = std::make_unique<TTsmSlicer>(&input, std::make_unique<TTsTreeNode>(u"root"));
        int32_t at = 0;
        for (int i = 0; i < count; ++i) {
            RawByteString l = "  item" + std::to_string(i) + " ?cond";
            auto stream = std::make_unique<TStringStream>(l);
            TTsTreeNode* line = slicer->ResultRoot()->AddChild(u"line");
            TTsTreeNode* name = line->AddChild(u"name");
            line->Props().SetValue(u"innerGlobal", TTsmSlicer::MakeSpan(at, static_cast<int64_t>(l.size()), &input));
            name->Props().SetValue(u"start", TTsmSlicer::MakeSpan(2, static_cast<int64_t>(l.size()) - 8, stream.get()));
            name->Props().SetValue(u"startGlobal",
                                   TTsmSlicer::MakeSpan(at + 2, static_cast<int64_t>(l.size()) - 8, &input));
            slicer->AddStream(std::move(stream));
            lines.push_back(line);
            at += static_cast<int32_t>(l.size()) + 2;
        }
    }
};

void ReadLineFields(benchmark::State& state) {
    TLines r(static_cast<int>(ts::bench::Scaled(state.range(0))));
    size_t i = 0;
    for (auto _ : state) {
        r.slicer->SetContextNode(r.lines[i]);
        benchmark::DoNotOptimize(r.slicer->TextOf(u""));
        benchmark::DoNotOptimize(r.slicer->TextOf(u"name$start"));
        benchmark::DoNotOptimize(r.slicer->TextOf(u"name$startGlobal"));
        i = (i + 1) % r.lines.size();
    }
}
BENCHMARK(ReadLineFields)->Arg(100)->Arg(10000);

}  // namespace
