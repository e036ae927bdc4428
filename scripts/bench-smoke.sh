#!/usr/bin/env bash
# Builds the Release preset with the benchmarks and runs each benchmark once
# on a small input, so that none of them rots. Timings mean nothing here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ts_install_missing
# A build of its own, without the tests, so that the developer's release
# build keeps its settings.
dir=build/bench-smoke
cmake --preset release -B "$dir" -DTS_WERROR=ON -DTS_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir"
export TS_BENCH_SMOKE=1 QT_QPA_PLATFORM=offscreen
for b in "$dir"/bench/*; do
    [[ -f $b && -x $b ]] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.001 > "$b.smoke.log" 2>&1 || { cat "$b.smoke.log"; echo "$b failed"; exit 1; }
done
echo "benchmark smoke run passed"
