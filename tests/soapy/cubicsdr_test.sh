#!/usr/bin/env bash
# CubicSDR 0.2.7 (Debian's cubicsdr) on the simulated instrument, as the
# README tells a user to try it: a fresh configuration, LD_LIBRARY_PATH at the
# simulator's plain folder and nothing else (SOAPY_SDR_PLUGIN_PATH names the
# built module). It runs under Xvfb, and the test does what the user does.
# CubicSDR has no option and no configuration key that starts a device: it
# opens its device dialog, and only a click on Start (or a double click in
# the list) starts one, so the test clicks the instrument's row and Start.
# It then streams for 20 s; the window is closed as a user closes it, and
# the module's line at the stop must show the samples of those 20 s at the
# instrument's rate, without an overflow, and CubicSDR must end by itself.
#
# Usage: cubicsdr_test.sh MODULE SIMULATOR_FOLDER PYTHON
# Exits 77 (skipped) without CubicSDR, Xvfb or xdotool.
set -euo pipefail
module=$1 simulator=$2 python=$3
for tool in CubicSDR Xvfb xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is not installed"
        exit 77
    fi
done

work=$(mktemp -d)
xvfb_pid="" cubic_pid=""
cleanup() {
    for pid in $cubic_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
log=$work/cubicsdr.log
fail() {
    echo "FAILED: $*" >&2
    echo "--- CubicSDR's output" >&2
    cat "$log" >&2
    exit 1
}
# Waits up to $1 seconds for command $2... to succeed.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}
logged() { [ "$(grep -c -- "$1" "$log")" -ge "${2:-1}" ]; }

# A display of its own, on a local socket only.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
wait_for 30 test -s "$work/display" || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=":$(cat "$work/display")"

mkdir "$work/home"
env -i PATH="$PATH" DISPLAY="$DISPLAY" HOME="$work/home" \
    LD_LIBRARY_PATH="$simulator" SOAPY_SDR_PLUGIN_PATH="$module" \
    CubicSDR >"$log" 2>&1 &
cubic_pid=$!
alive() { kill -0 "$cubic_pid" 2>/dev/null || fail "CubicSDR ended"; }

# Its enumeration opens the instrument once and lists it.
wait_for 60 logged "Reporting enumeration complete." || fail "no device enumeration"
dialog=$(timeout 30 xdotool search --sync --name "SDR Devices" | head -1) ||
    fail "no device dialog"
read -r width height < <(xdotool getwindowgeometry "$dialog" |
    sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
# Clicks at x and each y in turn until $1 (a log line, $2 times) shows.
click_until() {
    local line=$1 times=$2 x=$3 y
    shift 3
    for y in "$@"; do
        alive
        xdotool mousemove --window "$dialog" "$x" "$y" click 1
        wait_for 1 logged "$line" "$times" && return 0
    done
    return 1
}
# The row of "ZEF418 @ 0x2101", the third of the list (under Devices and
# Local), some 64 pixels down with Debian's fonts: choosing it opens the
# instrument (the second open). The list fills on the dialog's timer, and
# rows of other fonts lie elsewhere: the click goes down the list until it
# takes. A click on another row chooses nothing.
rows=$(seq 64 -8 24; seq 72 8 160)
wait_for 30 click_until "ZEF418: opened ZEF418" 2 120 $rows ||
    fail "choosing the instrument in the dialog opened nothing"
wait_for 30 logged "ZEF418: instrument ready after" 2 || fail "the instrument never came up"
# Start: the rightmost of the three buttons under the list.
wait_for 20 click_until "starting readLoop()" 1 $((width * 41 / 100)) \
    $((height - 55)) $((height - 47)) $((height - 63)) $((height - 39)) $((height - 71)) ||
    fail "Start did not start the stream"
echo "CubicSDR streams; 20 s"
for _ in $(seq 20); do
    sleep 1
    alive
done

# Closed as a window manager closes it: WM_DELETE_WINDOW.
frame=$(xdotool search --name "CubicSDR v" | head -1)
"$python" - "$frame" <<'PY'
import ctypes, sys
x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 16)]
display = x.XOpenDisplay(None)
window = int(sys.argv[1])
event = ClientMessage(type=33, display=display, window=window,  # ClientMessage
                      message_type=x.XInternAtom(display, b"WM_PROTOCOLS", 0), format=32)
event.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(display, window, 0, 0, ctypes.byref(event))
x.XFlush(display)
PY
ended=0
wait_for 30 sh -c "! kill -0 $cubic_pid 2>/dev/null" && ended=1
[ "$ended" = 1 ] || fail "CubicSDR did not end after its window was closed"
status=0
wait "$cubic_pid" || status=$?
cubic_pid=""
! grep -qE "terminate called|Unhandled|Segmentation|Aborted" "$log" || fail "CubicSDR aborted"
[ "$status" = 0 ] || fail "CubicSDR exited with $status"
summary=$(grep "ZEF418: stream stopped after" "$log" | tail -1)
[ -n "$summary" ] || fail "no stream ever stopped"
echo "$summary"
"$python" - "$summary" <<'PY' || fail "the stream did not deliver what the instrument sent"
import re, sys
seconds, samples, rate, overflows = re.search(
    r"after ([0-9.]+) s: ([0-9]+) samples read \(([0-9]+) S/s\), ([0-9]+) overflow", sys.argv[1]).groups()
assert float(seconds) >= 20, f"streamed {seconds} s"
assert abs(int(rate) - 65104) / 65104 < 0.05, f"{rate} S/s"
assert int(overflows) == 0, f"{overflows} overflows"
PY
echo "1 passed, 0 failed"
