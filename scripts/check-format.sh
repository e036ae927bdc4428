#!/usr/bin/env bash
# Fails when a tracked C++ file does not follow .clang-format, naming the
# files; `clang-format -i FILE` mends them.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! out=$(clang-format --dry-run --Werror "${files[@]}" 2>&1); then
    echo "Not formatted as .clang-format says:"
    grep -oE '^[^:]+\.(cpp|h)' <<< "$out" | sort -u | sed 's/^/  /'
    exit 1
fi
