#!/usr/bin/env bash
# The instrument from another computer: SoapySDRServer with the zef module
# and the simulated instrument, and a client through driver=remote. Avahi
# announces by multicast on every interface, so D-Bus, avahi and the server
# run only inside a network and mount namespace that this script makes and
# that holds nothing but loopback, with a private /run; nothing leaves it.
#
# Usage: soapy_remote_test.sh MODULE SIMULATOR PRESET PYTHON
# Exits 77 (skipped) when not root or when a package is missing
# (soapyremote-server, soapysdr0.8-module-remote, avahi-daemon, dbus,
# iproute2: scripts/install-deps installs them).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${1:-}" != "--inside" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "skipped: a network namespace needs root"
        exit 77
    fi
    for tool in unshare ip dbus-daemon avahi-daemon SoapySDRServer; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is not installed"
            exit 77
        fi
    done
    if ! compgen -G "/usr/lib/*/SoapySDR/modules0.8/libremoteSupport.so" >/dev/null; then
        echo "skipped: soapysdr0.8-module-remote is not installed"
        exit 77
    fi
    exec unshare --net --mount --propagation private bash "$0" --inside "$@"
fi
shift
module=$1 simulator=$2 preset=$3 python=$4

# Refuse to start anything in a namespace that is not the empty one made above.
if [ "$(ip -o link show | wc -l)" -ne 1 ]; then
    echo "not inside a namespace of loopback alone; refusing to start avahi" >&2
    exit 1
fi

work=$(mktemp -d)
dbus_pid="" avahi_pid="" server_pid=""
stop() { # pid [signal]
    if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
        kill "-${2:-TERM}" "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}
cleanup() {
    stop "$server_pid" INT
    stop "$avahi_pid"
    stop "$dbus_pid"
    rm -rf "$work"
}
trap cleanup EXIT
show_server_log() { echo "--- server log"; cat "$work/server.log"; }

ip link set lo up
mount -t tmpfs tmpfs /run
mkdir -p /run/dbus
dbus-daemon --system --nofork --nopidfile &
dbus_pid=$!
for _ in $(seq 50); do [ -S /run/dbus/system_bus_socket ] && break; sleep 0.1; done
avahi-daemon --no-drop-root --no-chroot --no-rlimits &
avahi_pid=$!
for _ in $(seq 50); do avahi-daemon --check 2>/dev/null && break; sleep 0.1; done

mkfifo "$work/control" # the client pulls the cable through it
SOAPY_SDR_PLUGIN_PATH=$module LD_PRELOAD="$simulator:$preset" \
    ZEF_TEST_SIM_DEVICES="ZEF418@0x2101" ZEF_TEST_SIM_TIMING=realtime \
    ZEF_TEST_SIM_SETTINGS_OUT="$work/settings" ZEF_TEST_SIM_CONTROL="$work/control" \
    SoapySDRServer --bind=127.0.0.1:55132 >"$work/server.log" 2>&1 &
server_pid=$!
"$python" - <<'PY' || { show_server_log; exit 1; }
import socket, time
for _ in range(100):
    try:
        socket.create_connection(("127.0.0.1", 55132), timeout=1).close()
        break
    except OSError:
        time.sleep(0.1)
else:
    raise SystemExit("the server never listened on 127.0.0.1:55132")
PY

"$python" "$here/soapy_remote_client.py" stream "$work/control" || { show_server_log; exit 1; }
# The server's process writes the simulator's last settings frame as it ends.
stop "$server_pid" INT
server_pid=""
"$python" "$here/soapy_remote_client.py" check "$work/settings" || { show_server_log; exit 1; }
echo "1 passed, 0 failed"
