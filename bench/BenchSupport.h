// What every benchmark shares: the size of its input, shrunk for the smoke
// run that only checks that each benchmark still builds and runs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace ts::bench {

// n, or n / 100 (at least 1) when TS_BENCH_SMOKE is set.
inline int64_t Scaled(int64_t n) {
    static const bool smoke = std::getenv("TS_BENCH_SMOKE") != nullptr;
    return smoke ? std::max<int64_t>(1, n / 100) : n;
}

}  // namespace ts::bench
