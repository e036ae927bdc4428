// Benchmarks of simple patterns over a 1 MiB memory stream: long greedy
// matches (throughput of the matcher) and many short matches (per-call cost
// of MatchSimplePattern with its cached choices).
#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "library/expressions/rpn/Simpat.h"
#include "support/TempFiles.h"

using namespace ts;

namespace {
// A MiB of input; a hundredth of it in the smoke run.
const size_t kMiB = static_cast<size_t>(ts::bench::Scaled(1 << 20));

std::string IdentifierRun() {
    std::string s = "  ";
    while (s.size() < kMiB) s += "abcdefghij_0123456789XYZ";
    s.resize(kMiB);
    return s;
}

std::string QuotelessRun() {
    std::string s;
    while (s.size() < kMiB - 1) s += "some text, with 'quotes' and \tblanks\r\n";
    s.resize(kMiB - 1);
    return s + "\"";
}

void MatchWhole(benchmark::State& state, std::u16string_view pattern, const std::string& data) {
    TStringStream stream(data);
    for (auto _ : state) {
        stream.SetPosition(0);
        bool ok = MatchSimplePattern(pattern, stream, "\r\n");
        benchmark::DoNotOptimize(ok);
        if (!ok || stream.Position() < static_cast<int64_t>(kMiB) - 1)
            state.SkipWithError("pattern did not run over the buffer");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
}  // namespace

static void BM_SimpatSpIdOver1MiB(benchmark::State& state) { MatchWhole(state, u"SP* ID+", IdentifierRun()); }
BENCHMARK(BM_SimpatSpIdOver1MiB);

static void BM_SimpatNotQuoteOver1MiB(benchmark::State& state) { MatchWhole(state, u"[^\"]+", QuotelessRun()); }
BENCHMARK(BM_SimpatNotQuoteOver1MiB);

// Tokens of 8 bytes, one call each: dominated by the per-call work.
static void BM_SimpatShortTokens(benchmark::State& state) {
    std::string data;
    while (data.size() < kMiB) data += "  abc123";
    TStringStream stream(data);
    for (auto _ : state) {
        stream.SetPosition(0);
        while (MatchSimplePattern(u"SP* ID+", stream, "\r\n")) {
        }
        if (stream.Position() != static_cast<int64_t>(data.size())) state.SkipWithError("tokens were not all matched");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_SimpatShortTokens);

// The rest of each line: a class with the line-break flag, line by line.
static void BM_SimpatRestOfLine(benchmark::State& state) {
    std::string data;
    while (data.size() < kMiB) data += "a line of model text, some 60 bytes long for the measure\r\n";
    TStringStream stream(data);
    for (auto _ : state) {
        stream.SetPosition(0);
        while (stream.Position() < static_cast<int64_t>(data.size()) &&
               MatchSimplePattern(u"[^NL]* NL", stream, "\r\n")) {
        }
        if (stream.Position() != static_cast<int64_t>(data.size())) state.SkipWithError("lines were not all matched");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_SimpatRestOfLine);

// The same over a file: the matcher reads ahead instead of a byte per call.
static void BM_SimpatRestOfLineFile(benchmark::State& state) {
    std::string data;
    while (data.size() < kMiB) data += "a line of model text, some 60 bytes long for the measure\r\n";
    WideString name = CreateTempFileW();
    SaveFileBytes(name, data);
    {
        TFileStreamW stream(name, TFileMode::fmOpenRead);
        for (auto _ : state) {
            stream.SetPosition(0);
            while (stream.Position() < static_cast<int64_t>(data.size()) &&
                   MatchSimplePattern(u"[^NL]* NL", stream, "\r\n")) {
            }
            if (stream.Position() != static_cast<int64_t>(data.size()))
                state.SkipWithError("lines were not all matched");
        }
    }
    DeleteFileW(name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_SimpatRestOfLineFile);
