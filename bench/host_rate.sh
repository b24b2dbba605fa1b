#!/usr/bin/env bash
# Delivered rate of the real plug-in against the simulated instrument in real
# time, with zef-host as the host: natively or under Wine with the 32- or
# 64-bit DLL, on an idle machine or with the second core kept busy. Under
# Wine also through the Wine bridge lin_ftd2xx.dll: bridge32|bridge64 with
# the Linux simulator behind it, usb32|usb64 with the open driver libzefd2xx
# and the real libusb on an emulated USB bridge (tests/usb, umockdev), whose
# carrier is checked for lost frames by its phase instead of the pattern.
#
#   bench/host_rate.sh native|wine32|wine64|bridge32|bridge64|usb32|usb64 [seconds] [busy]
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

driver=(--driver sim --sim-signal pattern)
check=pattern
case "$kind" in
native) host=(build/default/bin/zef-host) ;;
wine32 | wine64)
    export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine} WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;lin_ftd2xx=n" # never an installed bridge
    host=(wine "build/mingw${kind#wine}/bin/zef-host.exe")
    ;;
bridge32 | bridge64 | usb32 | usb64)
    bits=${kind: -2}
    linux=$([ "$bits" = 32 ] && echo linux32 || echo default)
    loader=$([ "$bits" = 32 ] && echo wine || echo wine64)
    export WINEPREFIX=${WINEPREFIX:-$PWD/build/wine} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDLLPATH=$PWD/build/$linux/winebridge
    # The host's folder as a user lays it out: the plug-in beside the stub.
    cp "build/mingw$bits/src/ExtIO_Zef.dll" "build/mingw$bits/bin/zef-host.exe" \
        "build/$linux/winebridge/stub/lin_ftd2xx.dll" "$out/"
    host=("/usr/lib/wine/$loader" "$out/zef-host.exe")
    driver=(--driver system)
    if [ "${kind%??}" = bridge ]; then
        printf 'device = ZEF418 @ 0x2101\ntiming = realtime\nsignal = pattern\n' >"$out/zefsim.conf"
        export ZEF_D2XX=$PWD/build/$linux/sim/plain/libftd2xx.so ZEFSIM_CONFIG=$out/zefsim.conf
    else
        export ZEF_D2XX=zef
        host=("build/$linux/tests/usb/zef_bridge_bed" -- "${host[@]}")
        check=carrier
    fi
    # A server and the prefix's processes without the test bed's preload.
    (wineserver -p10 || true) && wine cmd /c exit </dev/null >/dev/null 2>&1
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

"${host[@]}" "${driver[@]}" --seconds "$seconds" --timeout 30 -q \
    -o "$out/rec.raw" --format raw --summary-json "$out/summary.json" >"$out/host.log" 2>&1 &
launcher=$!

# The process that runs the plug-in: zef-host itself, or Wine's for the .exe.
# Wine's launchers (wine, start.exe) and the test bed carry the same arguments.
pid=""
for _ in $(seq 200); do
    for candidate in $(pgrep -f "zef-host(.exe)? ${driver[*]}" || true); do
        case "$(tr '\0' ' ' <"/proc/$candidate/cmdline" 2>/dev/null)" in
        start.exe\ * | wine\ * | */wine\ * | */zef_bridge_bed\ *) ;;
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

python3 - "$out" "$kind" "$seconds" "${busy:-idle}" "$load_before" "$load_after" "$t0" "$t1" "$check" <<'PY'
import array, cmath, json, math, sys
out, kind, seconds, busy, load_before, load_after, t0, t1, check = sys.argv[1:]
s = json.load(open(f"{out}/summary.json"))
lost = broken = 0
if check == "pattern":
    pairs = array.array("I")
    with open(f"{out}/rec.raw", "rb") as f:
        pairs.frombytes(f.read())
    for i in range(1, len(pairs)):
        step = (pairs[i] - pairs[i - 1]) & 0xFFFFFFFF
        if step == 1:
            continue
        if step > 1 and (step - 1) % 512 == 0:
            lost += (step - 1) // 512  # whole frames missing
        else:
            broken += 1  # anything else: repeated, reordered or torn
else:
    # The carrier 1 kHz above the LO turns by the same angle every sample; a
    # lost frame of 512 jumps it by 0.86 of a turn.
    iq = array.array("h")
    with open(f"{out}/rec.raw", "rb") as f:
        iq.frombytes(f.read())
    expected = 2 * math.pi * 1000 / 65104
    previous = complex(iq[0], iq[1])
    for i in range(2, len(iq), 2):
        sample = complex(iq[i], iq[i + 1])
        step = cmath.phase(sample * previous.conjugate())
        if abs(math.remainder(step - expected, 2 * math.pi)) > 0.2:
            broken += 1
        previous = sample
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
sim = s.get("simulator", {})
rec = s["seconds"]
rate = s["effective_rate"]
driver_side = (f"{sim['events_signalled'] / rec:.1f} | {sim.get('rx_transfers', 0) / rec:.1f} | "
               f"{sim.get('rx_overflow_bytes', '-')}") if sim else "- | - | -"
print(f"| {kind} | {busy} | {rec:.0f} s | {rate:.1f} | {100 * rate / 65104:.3f} % | {lost} / {broken} | "
      f"{driver_side} | "
      + ", ".join(f"{c:.2f} % ({w:.0f}/s)" for c, w in threads)
      + f" | {load_before} → {load_after} |")
PY
