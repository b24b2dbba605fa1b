#!/usr/bin/env bash
# Long libFuzzer runs: every target of tests/fuzz/targets.list (one line per
# target; add a target there) for RUNS executions each (default 10^7), from
# its committed seed corpus, two at a time under nice. Prints the executions,
# the time and the findings of each target; exits 1 when any target found
# something (its inputs are under build/fuzz-long/<target>/).
#
#   bench/fuzz-long.sh [RUNS [TARGET...]]    JOBS=2 by default; TARGETs: only those
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-10000000}
shift $(($# > 0 ? 1 : 0))
jobs=${JOBS:-2}
list=tests/fuzz/targets.list
out=build/fuzz-long

mapfile -t listed < <(grep -Ev '^[[:space:]]*(#|$)' "$list")
lines=()
targets=()
for line in "${listed[@]}"; do
    read -r name _ <<<"$line"
    if (($# == 0)) || [[ " $* " == *" $name "* ]]; then
        lines+=("$line")
        targets+=("$name")
    fi
done

cmake --preset fuzz >/dev/null
nice -n 10 cmake --build --preset fuzz --target "${targets[@]}"

# One target: new inputs go to a scratch folder, the committed corpus stays.
run_target() {
    local name=$1 corpus=$2
    shift 2
    local dir=$out/$name
    rm -rf "$dir"
    mkdir -p "$dir/corpus" "$dir/findings"
    local exe
    exe=$(find build/fuzz -type f -name "$name" -perm -u+x | head -n 1)
    local load_before
    load_before=$(cut -d' ' -f1 /proc/loadavg)
    local status=0
    nice -n 10 "$exe" -runs="$runs" -timeout=10 -print_final_stats=1 "$@" \
        -artifact_prefix="$dir/findings/" "$dir/corpus" "$corpus" >"$dir/log" 2>&1 || status=$?
    local executed seconds findings
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)
    seconds=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$dir/log" | tail -n 1)
    findings=$(find "$dir/findings" -type f | wc -l)
    printf '%s %s %s %s %s %s %s\n' "$name" "${executed:-?}" "${seconds:-?}" "$findings" \
        "$status" "$load_before" "$(cut -d' ' -f1 /proc/loadavg)" >"$dir/result"
}

echo "fuzzing ${#targets[@]} targets for $runs executions each, $jobs at a time"
echo "load at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
started=$(date +%s)
for line in "${lines[@]}"; do
    read -r -a fields <<<"$line"
    while (($(jobs -rp | wc -l) >= jobs)); do
        wait -n || true
    done
    run_target "${fields[@]}" &
done
wait

failed=0
printf '\n%-20s %12s %8s %10s %9s  %s\n' target executions seconds exec/s findings "load (start, end)"
for name in "${targets[@]}"; do
    read -r _ executed seconds findings status load_start load_end <"$out/$name/result"
    rate=?
    if [[ $executed =~ ^[0-9]+$ && $seconds =~ ^[0-9]+$ && $seconds -gt 0 ]]; then
        rate=$((executed / seconds))
    fi
    printf '%-20s %12s %8s %10s %9s  %s, %s\n' "$name" "$executed" "$seconds" "$rate" \
        "$findings" "$load_start" "$load_end"
    if ((findings > 0 || status != 0)); then
        failed=1
        echo "  $name: see $out/$name/log and $out/$name/findings/" >&2
    fi
done
echo "all targets: $(($(date +%s) - started)) s; load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$failed"
