// Reading short spans through the block cache versus straight from the source.
#include <benchmark/benchmark.h>

#include "library/modelling/streams/BufStream.h"
#include "support/Streams.h"

using namespace ts;

namespace {

RawByteString Input() {
    RawByteString s(1 << 20, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + i % 26);
    return s;
}

// Spans as a model run leaves them: short, mostly close to each other.
void ReadShortSpans(benchmark::State& state) {
    TMemoryStream src(Input());
    TBufStream buf(src);
    if (state.range(0) == 0) buf.SetLimits(-1, 0);
    int64_t off = 0;
    for (auto _ : state) {
        RawByteString s = buf.ReadString(24, off);
        benchmark::DoNotOptimize(s.data());
        off = (off + 37) % ((1 << 20) - 24);
    }
}
BENCHMARK(ReadShortSpans)->Arg(0)->Arg(1)->ArgName("cached");

// The same over a file, where a miss costs a system call.
void ReadShortSpansFromFile(benchmark::State& state) {
    WideString name = u"/tmp/ts_bench_bufstream.bin";
    SaveFileBytes(name, Input());
    {
        TFileStreamW src(name, TFileMode::fmOpenRead);
        TBufStream buf(src);
        if (state.range(0) == 0) buf.SetLimits(-1, 0);
        int64_t off = 0;
        for (auto _ : state) {
            RawByteString s = buf.ReadString(24, off);
            benchmark::DoNotOptimize(s.data());
            off = (off + 37) % ((1 << 20) - 24);
        }
    }
    DeleteFileW(name);
}
BENCHMARK(ReadShortSpansFromFile)->Arg(0)->Arg(1)->ArgName("cached");

}  // namespace
