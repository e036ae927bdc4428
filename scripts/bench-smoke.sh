#!/usr/bin/env bash
# Builds the Release preset with the benchmarks and runs each benchmark once
# on a small input, so that none of them rots. Timings mean nothing here.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ts_install_missing
cmake --preset release -DTS_WERROR=ON >/dev/null
cmake --build --preset release
export TS_BENCH_SMOKE=1 QT_QPA_PLATFORM=offscreen
for b in build/release/bench/*; do
    [[ -f $b && -x $b ]] || continue
    echo "== $(basename "$b")"
    "$b" --benchmark_min_time=0.001 > "$b.smoke.log" 2>&1 || { cat "$b.smoke.log"; echo "$b failed"; exit 1; }
done
echo "benchmark smoke run passed"
