#!/usr/bin/env bash
# Instructions per parsed byte under callgrind, for the reference and the fast
# parser, over the recorded stream (sample and status frames) and over sample
# frames alone. Counts only parseRecorded, so set-up is left out.
# Usage: bench/callgrind_parser.sh [build-dir]   (default: build/default)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
driver="$build/bench/zef_parser_instructions"
[[ -x "$driver" ]] || { echo "missing $driver: build target zef_parser_instructions" >&2; exit 1; }
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

echo "| core | stream | bytes | instructions | instructions per byte |"
echo "|---|---|---|---|---|"
for core in reference fast; do
    for stream in stream samples; do
        file="$out/$core.$stream"
        bytes=$(valgrind --tool=callgrind --callgrind-out-file="$file" \
            --toggle-collect='*parseRecorded*' "$driver" "$core" "$stream" 4 2>/dev/null)
        ir=$(awk '/^totals:/ {print $2}' "$file")
        awk -v c="$core" -v s="$stream" -v b="$bytes" -v i="$ir" \
            'BEGIN { printf "| %s | %s | %d | %d | %.2f |\n", c, s, b, i, i / b }'
    done
done
