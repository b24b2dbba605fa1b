# shellcheck shell=bash
# Sourced by the stages that run Windows or 32-bit Linux programs.
#
# Some kernels run no 32-bit x86 program at all (seen on a virtual machine's:
# "Exec format error"). Wine's `wine` launcher always starts the 32-bit
# loader first, so there nothing under Wine would start. On such a kernel
# ZEF_I386_RUNS is 0, the stages skip what is 32-bit and say so, and `wine`
# and `wine-stable` on PATH go straight to the 64-bit loader.
ZEF_I386_RUNS=1
if [ -e /lib/ld-linux.so.2 ]; then # missing: let the 32-bit tests say so
    zef_rc=0
    /lib/ld-linux.so.2 --version >/dev/null 2>&1 || zef_rc=$?
    [ "$zef_rc" -ne 126 ] || ZEF_I386_RUNS=0
fi
if [ "$ZEF_I386_RUNS" = 0 ]; then
    zef_shims="$PWD/build/wine64-only"
    mkdir -p "$zef_shims"
    for zef_name in wine wine-stable; do
        printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$zef_shims/$zef_name"
        chmod +x "$zef_shims/$zef_name"
    done
    export PATH="$zef_shims:$PATH" WINELOADER=/usr/lib/wine/wine64
fi

# Prints why a 32-bit part is skipped; true when it must be.
zef_skip_i386() {
    [ "$ZEF_I386_RUNS" = 0 ] || return 1
    echo "SKIPPED, $1: this kernel runs no 32-bit x86 program (Exec format error)"
}
