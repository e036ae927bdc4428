#!/usr/bin/env bash
# The fuzzing smoke run: builds the fuzz preset and runs each target for a
# short fixed time (FUZZ_SECONDS, default 30) over its corpus, FUZZ_JOBS at a
# time (default 2) and at low priority. Fails when a target finds a fault; libFuzzer leaves the
# input that caused it in build/fuzz/findings/. FUZZ_TIMEOUT (default 10) is
# libFuzzer's wall-clock limit per input: raise it for long campaigns beside
# other work, where a starved process trips it on inputs that take 0.2 s.
# Usage: scripts/fuzz-smoke.sh [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
TS_PACKAGES+=(clang libclang-rt-14-dev)
ts_install_missing
targets=("$@")
((${#targets[@]})) || targets=(native_reader modelling_reader readers_agree simple_pattern rpn condition
                                script_loader model_dump model_run)
cmake --preset fuzz >/dev/null
nice -n 19 cmake --build --preset fuzz --target "${targets[@]/#/fuzz_}"

seconds=${FUZZ_SECONDS:-30}
timeout=${FUZZ_TIMEOUT:-10}
corpus=build/fuzz/corpus
findings=build/fuzz/findings
scripts/fuzz-seeds.sh "$corpus" >/dev/null
mkdir -p "$findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run_one() {  # run_one TARGET: fuzzes it for the fixed time; fails on a finding
    local t=$1 rc=0
    # The corpus grows with what the run finds new; the seeds are rebuilt
    # from the sources each time, so nothing of it needs keeping.
    nice -n 19 "build/fuzz/fuzz/fuzz_$t" -max_len=4096 -timeout="$timeout" -rss_limit_mb=2048 \
        -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/$t-" \
        "$corpus/$t" > "$findings/$t.log" 2>&1 || rc=$?
    echo "== $t (${seconds}s): $(grep -E "^stat::number_of_executed_units" "$findings/$t.log" || echo "no stats")"
    if ((rc)); then
        tail -n 40 "$findings/$t.log"
        echo "fuzz_$t found a fault: see $findings/"
        return 1
    fi
}
# Two at a time by default, one per core.
jobs=${FUZZ_JOBS:-2}
failed=0
running=0
for t in "${targets[@]}"; do
    if ((running >= jobs)); then
        wait -n || failed=1
        running=$((running - 1))
    fi
    run_one "$t" &
    running=$((running + 1))
done
while ((running > 0)); do
    wait -n || failed=1
    running=$((running - 1))
done
((failed == 0)) || exit 1
echo "fuzz smoke run passed"
