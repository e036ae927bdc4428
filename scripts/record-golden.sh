#!/usr/bin/env bash
# Writes the golden corpus and its cases (tests/cli/golden/): the --json
# output of both readers over every example model, the canonical models and
# a generated corpus, of runs over sample inputs, and of each example script's
# samples. The outputs themselves are recorded by the fixture test with
# TS_UPDATE_EXPECTED=1; review the diff before committing it.
# Usage: scripts/record-golden.sh [BUILD_DIR]   (build/asan by default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}
tessarine=$build/cli/tessarine
golden=tests/cli/golden
corpus=$golden/corpus
rm -f "$golden"/*.args "$golden"/*.out
mkdir -p "$corpus"

# ---- The generated corpus: fixed shapes, no randomness, so it is the same each time.

# Typical lines of user models, nested, with comments and blank lines; twice,
# once with LF and once with CR LF breaks.
model_lines=(
    '; a generated model' '(field) % [^,]*' '(quoted) = "' '  "text" % [^"]*' '  END = "' ''
    'END? eof' 'LINE' '  "blank"? eof' '  "comment" % SP* ; ANY*' '  1? "header" = [' '    "name" % [^]]+'
    '    END = ]' '  "record" =' '    .? "key"... % ID+' '      name + (value...) + more = x'
    '    0? % SP+ + SP+' '    .^ quoted + field' '    2? field' '    != ,'
)
for ((i = 0; i < 60; i++)); do printf '%s\n' "${model_lines[i % ${#model_lines[@]}]}"; done >"$corpus/lines-lf.txt"
sed 's/$/\r/' "$corpus/lines-lf.txt" >"$corpus/lines-crlf.txt"

# Nodes inside each other, forty levels, each with its own condition.
for ((i = 0; i < 40; i++)); do
    printf '%*s"n%d" = %c\n' $((2 * i)) '' "$i" "$(printf "\\x$(printf %x $((97 + i % 26)))")"
done >"$corpus/nested.txt"
printf 'abcdefghijklmnopqrstuvwxyzabcdefghijklmn' >"$corpus/nested-input.txt"

# A line model over key = value lines with comments and blank lines.
cat >"$corpus/pairs.txt" <<'MODEL'
END? eof
LINE
  "blank"? eof
  "comment" % SP* #
  "pair" =
    .? "key" % ID+
    . _ =
    .? "value" % SP* ANY*
MODEL
pair_lines=('# settings of the test server' 'host_name = test.example.org' 'port = 8080' ''
            'greeting=Hello, world of line models' 'timeout_seconds   =   30')
for ((i = 0; i < 90; i++)); do printf '%s\n' "${pair_lines[i % ${#pair_lines[@]}]}"; done >"$corpus/pairs-input.txt"

# CSV records with quoted fields, doubled quotes and empty fields.
for ((i = 0; i < 40; i++)); do
    case $((i % 4)) in
    0) printf 'name%d,%d,"quoted, with comma"\n' "$i" $((i * 7)) ;;
    1) printf '"say ""hi""",,last\n' ;;
    2) printf ',%d,\n' "$i" ;;
    3) printf 'plain\n' ;;
    esac
done >"$corpus/records.csv"

# ---- The cases.

n=0
# Only stdout and the exit code are kept: the fixtures check the messages,
# and some name an object by its address.
add_case() {  # add_case NAME ARG...: records the exit code now, the output later
    local name=$1 rc=0
    shift
    "$tessarine" "$@" >/dev/null 2>&1 || rc=$?
    { echo "exit $rc"; printf '%s\n' "$@"; } >"$golden/$name.args"
    : >"$golden/$name.out"
    n=$((n + 1))
}
slug() { local s=${1#./}; s=${s//\//-}; echo "${s//./-}"; }

for model in examples/*.txt resources/TSMMODEL resources/TSMSCRIPT "$corpus"/*.txt tests/cli/fixtures/*-model.txt; do
    case $model in *-input.txt) continue ;; esac
    for reader in native modelling; do add_case "read-$reader-$(slug "$model")" read --reader "$reader" --json "$model"; done
done
add_case run-csv-sample run --json examples/csv-file.txt examples/sample.csv
add_case run-csv-records run --json examples/csv-file.txt "$corpus/records.csv"
add_case run-pairs run --json "$corpus/pairs.txt" "$corpus/pairs-input.txt"
add_case run-pairs-crlf run --json --line-break crlf "$corpus/pairs.txt" "$corpus/pairs-input.txt"
add_case run-nested run --json "$corpus/nested.txt" "$corpus/nested-input.txt"
add_case run-nested-short run --json "$corpus/nested.txt" "$corpus/pairs-input.txt"
add_case run-ini run --json tests/cli/fixtures/ini-model.txt tests/cli/fixtures/sample.ini
add_case run-lines run --json tests/cli/fixtures/lines-model.txt tests/cli/fixtures/lengths.txt
add_case run-server-log run --json examples/server-log.tsn tests/cli/fixtures/server.log
add_case run-model-over-itself run --json resources/TSMMODEL examples/csv-file.txt
for script in examples/*.tsn; do add_case "test-$(slug "$script")" test --json "$script"; done

TS_UPDATE_EXPECTED=1 "$build/tests/test_cli" --gtest_filter='Fixtures/CliFixture.*/golden_*' >/dev/null
echo "recorded $n golden cases in $golden"
