#!/usr/bin/env bash
# Builds the fuzz targets' seed corpora from the examples, the canonical
# models and the command-line fixtures, into DIR/<target>/ (default
# build/fuzz/corpus). Seeds follow each target's input layout (see fuzz/):
# a leading choice byte, or text and input joined by a zero byte.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/fuzz/corpus}
targets=(native_reader modelling_reader readers_agree simple_pattern rpn condition script_loader model_dump model_run)
for t in "${targets[@]}"; do mkdir -p "$out/$t"; done

seed() {  # seed TARGET: stdin becomes one seed file, named by its hash as libFuzzer names them
    local tmp
    tmp=$(mktemp "$out/$1/.seed.XXXXXX")
    cat > "$tmp"
    mv "$tmp" "$out/$1/$(sha1sum < "$tmp" | cut -d' ' -f1)"
}

models=(resources/TSMMODEL resources/TSMSCRIPT examples/*.txt tests/cli/fixtures/*.txt)
scripts=(examples/*.tsn)
for f in "${models[@]}"; do
    { printf '\0'; cat "$f"; } | seed native_reader
    { printf '\1'; cat "$f"; } | seed modelling_reader
    for phase in '\0' '\1' '\2' '\22'; do { printf "$phase"; cat "$f"; } | seed model_dump; done
done
for f in "${scripts[@]}" resources/TSMSCRIPT; do
    seed script_loader < "$f"
    { printf '\0'; cat "$f"; } | seed model_dump
done

# The command-line fixtures' runs and conditions: one argument per line after
# the exit code and the command.
for args in tests/cli/fixtures/run-*.args tests/cli/fixtures/cond-*.args; do
    mapfile -t a < "$args"
    pos=()
    text=""
    for ((i = 2; i < ${#a[@]}; i++)); do
        case ${a[i]} in
            --text) text=${a[i + 1]}; i=$((i + 1)) ;;
            --input) pos+=("${a[i + 1]}"); i=$((i + 1)) ;;
            --*) ;;
            *) pos+=("${a[i]}") ;;
        esac
    done
    if [[ ${a[1]} == run && ${#pos[@]} -ge 2 && -f ${pos[0]} && -f ${pos[1]} ]]; then
        { printf '\0'; cat "${pos[0]}"; printf '\0'; cat "${pos[1]}"; } | seed model_run
    elif [[ ${a[1]} == cond && ${#pos[@]} -ge 1 ]]; then
        { printf '%s\0' "${pos[0]}"; if [[ -n $text ]]; then printf '%s' "$text"; elif [[ -f ${pos[1]:-} ]]; then cat "${pos[1]}"; fi; printf '\0'; } | seed condition
    fi
done
{ printf '\0'; cat examples/csv-file.txt; printf '\0'; cat examples/sample.csv; } | seed model_run

# Patterns and expressions of the language's own shapes.
for p in 'SP* ID+' '[^"]+' 'DIG+ | ID' '"a" [0-9A-F]* EOLN' '[^NL]* NL' '\x41+ ?' 'ALPHA+|SP+|EOF'; do
    printf '%s\0  abc 12 "q" A1F\r\nx' "$p" | seed simple_pattern
done
for e in '1 2 +' '"a" "b" +' 'x 3 *' 's1 s2 +' '2 10 ^ 7 %' '1 0 /' '"abc" 1 2'; do
    printf '\2%s' "$e" | seed rpn
    printf '\1%s' "$e" | seed rpn
done
for c in '% SP* ID+' '= text' '? eof' '!= ^' 'x 0D0A' '_ ('; do
    printf '%s\0text here\r\n\0' "$c" | seed condition
done
# Each readers_agree line is five bytes: its indentation step and four pieces.
printf '\0\0\0\0\0\0\0\1\0\1\0\0\2\0\0\2\1\4\0\0\3\1\0\0\5' | seed readers_agree
head -c 600 /dev/zero | tr '\0' '\7' | seed readers_agree
echo "seeds in $out: $(find "$out" -type f | wc -l)"
