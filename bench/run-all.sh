#!/usr/bin/env bash
# Builds and runs every benchmark: the Google Benchmark programs, the parser's
# instruction counts under callgrind, the end-to-end figures against the
# simulated instrument with both driver libraries, and libzefd2xx's CPU on
# an emulated bridge.
# Usage: bench/run-all.sh [build-dir] [seconds of steady streaming]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
seconds="${2:-10}"
benches=(zef_bench_parser zef_bench_crc16 zef_bench_settings_frame zef_bench_fpga)

cmake -S "$root" -B "$build" -G Ninja -DZEF_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target "${benches[@]}" zef_parser_instructions \
    zef_bench_e2e_plain zef_bench_e2e_bridge
# Built only with the tests (its emulated bridge is theirs) and umockdev.
cmake --build "$build" -j2 --target zef_bench_zefd2xx_cpu 2>/dev/null || true

for bench in "${benches[@]}"; do
    "$build/bench/$bench" --benchmark_min_time=1
done
"$root/bench/callgrind_parser.sh" "$build"
"$build/bench/zef_bench_e2e_plain" "$seconds"
"$build/bench/zef_bench_e2e_bridge" "$seconds"
if [ -x "$build/bench/zef_bench_zefd2xx_cpu" ]; then
    "$build/bench/zef_bench_zefd2xx_cpu" "$seconds"
fi
