#!/bin/sh
# Peak memory of `tessarine run --jsonl` over 10 MiB and 100 MiB of
# "key = value" lines (the LINE model of bench/modelling_engine.cpp), and of
# the whole-tree `run --json` over the 10 MiB input for comparison. Uses the
# Release build: cmake --preset release && cmake --build build/release --target tessarine
set -eu
cd "$(dirname "$0")/.."
bin=${TESSARINE:-build/release/cli/tessarine}
work=$(mktemp -d "${TMPDIR:-/tmp}/jsonl-memory.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The golden corpus's key = value model, the benchmark's too.
cp tests/cli/golden/corpus/pairs.txt "$work/model.txt"

# MiB of the same six lines the benchmark repeats.
make_input() {
    awk -v bytes=$(($1 * 1048576)) 'BEGIN {
        split("# settings of the test server|host_name = test.example.org|port = 8080||greeting=Hello, world of line models|timeout_seconds   =   30", l, "|")
        for (i = 0; n < bytes; i++) { s = l[i % 6 + 1]; print s; n += length(s) + 1 }
    }' >"$2"
}

peak() {  # peak resident set size of the command, in MiB
    /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null || { echo "failed: $*" >&2; tail -5 "$work/time.txt" >&2; }
    awk '/Maximum resident set size/ { printf "%.1f", $NF / 1024 }' "$work/time.txt"
}

make_input 10 "$work/10.txt"
make_input 100 "$work/100.txt"
echo "run --jsonl,  10 MiB: $(peak "$bin" run --jsonl "$work/model.txt" "$work/10.txt") MiB peak"
echo "run --jsonl, 100 MiB: $(peak "$bin" run --jsonl "$work/model.txt" "$work/100.txt") MiB peak"
echo "run --json,   10 MiB: $(peak "$bin" run --json "$work/model.txt" "$work/10.txt") MiB peak"
