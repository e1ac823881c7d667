#!/usr/bin/env bash
# Runs the built `vosctl --simulator doctor` in umockdev's fake device trees and
# checks its exit status and the line that names the blocking step.
# Usage: cli_test.sh VOSCTL TREES_DIR
set -uo pipefail
vosctl=$1
trees=$2
if ! command -v umockdev-run >/dev/null; then
    echo "SKIP: umockdev-run is not installed"
    exit 77
fi
# AddressSanitizer wants to be first in the library list; umockdev's preload goes before it.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
failures=0

# tree (empty: no devices) | exit status | a line of standard output
cases=(
  "|1|FAIL  no FTDI USB device (vendor 0403) found; fix: plug in the logger; lsusb -d 0403: must then list it"
  "bound|1|FAIL  ftdi_sio holds interface 1-1:1.0 of logger 16001; fix: echo -n 1-1:1.0 | sudo tee /sys/bus/usb/drivers/ftdi_sio/unbind"
  "healthy|0|OK    FTDI USB device 1-1: \"VOS-XX\", serial 16001 (a logger)"
  "healthy|0|OK    the driver lists logger 16001, 12001"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r tree want line <<<"$entry"
    line=${entry#*|*|}
    device=()
    [ -n "$tree" ] && device=(-d "$trees/$tree.umockdev")
    umockdev-run "${device[@]}" -- "$vosctl" --simulator doctor >"$out" 2>/dev/null
    got=$?
    if [ "$got" != "$want" ]; then
        echo "FAIL ${tree:-empty}: exit status $got, expected $want"; cat "$out"; failures=$((failures + 1))
    elif ! grep -qxF -- "$line" "$out"; then
        echo "FAIL ${tree:-empty}: no line: $line"; cat "$out"; failures=$((failures + 1))
    else
        echo "ok   ${tree:-empty}: $line"
    fi
done
# A blocking problem is also named on standard error, as every failure of vosctl.
err=$(umockdev-run -- "$vosctl" --simulator doctor 2>&1 >/dev/null)
if [ "$err" != "vosctl: デバイスが見つかりません (doctor found a problem that blocks use; see the FAIL lines)" ]; then
    echo "FAIL standard error: $err"; failures=$((failures + 1))
fi
# From a build tree, --simulator loads the simulator built there.
listed=$("$vosctl" --simulator list 2>&1)
if [ "$listed" != "$(printf '16001\n12001')" ]; then
    echo "FAIL vosctl --simulator list from the build tree: $listed"; failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
