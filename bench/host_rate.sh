#!/usr/bin/env bash
# Delivered rate of the real plug-in against the simulated instrument in real
# time, with zef-host as the host: natively or under Wine with the 32- or
# 64-bit DLL, on an idle machine or with the second core kept busy.
#
#   bench/host_rate.sh native|wine32|wine64 [seconds] [busy]
#
# Records the counting test pattern raw, then prints one table row: the
# delivered rate and its ratio to 65104 pairs/s, sample frames lost (gaps in
# the pattern) and other breaks in it, the driver's event signals and USB transfers per second, the
# receive buffer's overflow, and the CPU time per second of streaming of the
# host's threads in the order they were started (from
# /proc/<pid>/task/*/schedstat, ns on the CPU, with their voluntary context
# switches per second), those above 0.01 %: zef-host's main thread, the
# plug-in's worker (started by InitHW), the simulator's driver thread
# (started by the first open). The machine's load
# average goes with it.
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:?native, wine32 or wine64}
seconds=${2:-60}
busy=${3:-}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

case "$kind" in
native) host=(build/default/bin/zef-host) ;;
wine32 | wine64)
    export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    host=(wine "build/mingw${kind#wine}/bin/zef-host.exe")
    ;;
*)
    echo "unknown kind $kind" >&2
    exit 2
    ;;
esac

spinner=""
if [ "$busy" = busy ]; then
    taskset -c 1 sh -c 'while :; do :; done' &
    spinner=$!
fi
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

"${host[@]}" --driver sim --sim-signal pattern --seconds "$seconds" --timeout 30 -q \
    -o "$out/rec.raw" --format raw --summary-json "$out/summary.json" >"$out/host.log" 2>&1 &
launcher=$!

# The process that runs the plug-in: zef-host itself, or Wine's for the .exe.
# Wine's launchers (wine, start.exe) carry the same arguments.
pid=""
for _ in $(seq 200); do
    for candidate in $(pgrep -f "zef-host(.exe)? --driver sim --sim-signal pattern" || true); do
        case "$(tr '\0' ' ' <"/proc/$candidate/cmdline" 2>/dev/null)" in
        start.exe\ * | wine\ * | */wine\ *) ;;
        *zef-host.exe\ --driver* | *bin/zef-host\ --driver*) pid=$candidate ;;
        esac
    done
    [ -n "$pid" ] && break
    sleep 0.1
done
snapshot() { # tid cpu_ns voluntary_switches, for every thread of $pid
    for task in /proc/"$pid"/task/*; do
        local tid cpu switches
        tid=${task##*/}
        cpu=$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) || continue
        switches=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null) || continue
        echo "$tid $cpu $switches"
    done
}
# From 5 s in (set-up and FPGA load done) to 2 s before the end.
window=$((seconds - 7))
sleep 5
snapshot >"$out/before"
t0=$(date +%s.%N)
sleep "$window"
snapshot >"$out/after"
t1=$(date +%s.%N)
wait "$launcher" || { cat "$out/host.log" >&2; exit 1; }
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
if [ -n "$spinner" ]; then
    kill "$spinner"
fi

python3 - "$out" "$kind" "$seconds" "${busy:-idle}" "$load_before" "$load_after" "$t0" "$t1" <<'PY'
import array, json, sys
out, kind, seconds, busy, load_before, load_after, t0, t1 = sys.argv[1:]
s = json.load(open(f"{out}/summary.json"))
pairs = array.array("I")
with open(f"{out}/rec.raw", "rb") as f:
    pairs.frombytes(f.read())
lost = broken = 0
for i in range(1, len(pairs)):
    step = (pairs[i] - pairs[i - 1]) & 0xFFFFFFFF
    if step == 1:
        continue
    if step > 1 and (step - 1) % 512 == 0:
        lost += (step - 1) // 512  # whole frames missing
    else:
        broken += 1  # anything else: repeated, reordered or torn
window = float(t1) - float(t0)
def read(name):
    rows = {}
    for line in open(f"{out}/{name}"):
        tid, cpu, sw = line.split()
        rows[tid] = (int(cpu), int(sw))
    return rows
before, after = read("before"), read("after")
threads = []
for tid, (cpu, sw) in sorted(after.items(), key=lambda t: int(t[0])):
    c0, s0 = before.get(tid, (0, 0))
    share = (cpu - c0) / 1e9 / window * 100
    if share >= 0.01:
        threads.append((share, (sw - s0) / window))
sim = s["simulator"]
rec = s["seconds"]
rate = s["effective_rate"]
print(f"| {kind} | {busy} | {rec:.0f} s | {rate:.1f} | {100 * rate / 65104:.3f} % | {lost} / {broken} | "
      f"{sim['events_signalled'] / rec:.1f} | {sim.get('rx_transfers', 0) / rec:.1f} | "
      f"{sim.get('rx_overflow_bytes', '-')} | "
      + ", ".join(f"{c:.2f} % ({w:.0f}/s)" for c, w in threads)
      + f" | {load_before} → {load_after} |")
PY
