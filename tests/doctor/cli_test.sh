#!/usr/bin/env bash
# Runs the built `vosctl doctor` in umockdev's fake device trees, with udevd
# running or not (a private /run with or without udevd's control socket), and
# checks its exit status and the line that names the blocking step.
# Usage: cli_test.sh VOSCTL SIMULATOR_LIBRARY TREES_DIR
set -uo pipefail
vosctl=$1
sim=$2
trees=$3
if ! command -v umockdev-run >/dev/null; then
    echo "SKIP: umockdev-run is not installed"
    exit 77
fi
# A private /run needs a mount namespace: root's, or a user namespace's.
userns=()
[ "$(id -u)" -eq 0 ] || userns=(--map-root-user)
if ! unshare --mount "${userns[@]}" true 2>/dev/null; then
    echo "SKIP: no mount namespace (unshare --mount) for a private /run"
    exit 77
fi
# AddressSanitizer wants to be first in the library list; umockdev's preload goes before it.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
failures=0

# Runs vosctl ARGS... in TREE (empty: no USB bus at all), udevd running or not.
doctor() {  # doctor TREE udev|noudev ARGS...
    local tree=$1 udev=$2
    shift 2
    local device=()
    [ -n "$tree" ] && device=(-d "$trees/$tree.umockdev")
    unshare --mount --propagation private "${userns[@]}" sh -c '
        mount -t tmpfs tmpfs /run && mkdir /run/udev && { [ "$0" = noudev ] || : >/run/udev/control; } &&
        exec "$@"' "$udev" umockdev-run "${device[@]}" -- "$vosctl" "$@"
}

# tree (empty: no USB bus) | udevd | driver (sim: --simulator, sim-after: vosctl doctor --simulator) | exit status |
# a line of standard output
cases=(
  "|udev|driver|1|FAIL  USB is not visible here: /sys/bus/usb is absent (a container without the host's /sys?); fix: run vosctl doctor on the machine itself, or give the container the host's /sys, /dev/bus/usb and /run/udev"
  "healthy|noudev|driver|1|FAIL  udevd is not running: /run/udev/control is absent; fix: sudo systemctl start systemd-udevd"
  "bound|udev|driver|1|FAIL  ftdi_sio holds interface 1-1:1.0 of logger 16001; fix: echo -n 1-1:1.0 | sudo tee /sys/bus/usb/drivers/ftdi_sio/unbind"
  "healthy|udev|driver|0|OK    FTDI USB device 1-1: \"VOS-XX\", serial 16001 (a logger)"
  "healthy|udev|driver|0|OK    the driver lists logger 16001, 12001"
  "|noudev|sim|0|SKIP  USB devices, device nodes and udev: the simulated driver needs none"
  "|noudev|sim-after|0|SKIP  USB devices, device nodes and udev: the simulated driver needs none"
  "bound|udev|sim|0|OK    the driver lists logger 16001, 12001"
)
for entry in "${cases[@]}"; do
    IFS='|' read -r tree udev driver want _ <<<"$entry"
    line=${entry#*|*|*|*|}
    args=(--driver "$sim" doctor)
    [ "$driver" = sim ] && args=(--simulator doctor)
    [ "$driver" = sim-after ] && args=(doctor --simulator)
    doctor "$tree" "$udev" "${args[@]}" >"$out" 2>"$err"
    got=$?
    what="${tree:-no USB}, $udev, $driver"
    if [ "$got" != "$want" ]; then
        echo "FAIL $what: exit status $got, expected $want"; cat "$out" "$err"; failures=$((failures + 1))
    elif ! grep -qxF -- "$line" "$out"; then
        echo "FAIL $what: no line: $line"; cat "$out"; failures=$((failures + 1))
    else
        echo "ok   $what: $line"
    fi
done
# A blocking problem is also named on standard error, as every failure of vosctl.
doctor "" udev --driver "$sim" doctor >/dev/null 2>"$err"
if [ "$(cat "$err")" != "vosctl: デバイスが見つかりません (doctor found a problem that blocks use; see the FAIL lines)" ]; then
    echo "FAIL standard error: $(cat "$err")"; failures=$((failures + 1))
fi
# From a build tree, --simulator loads the simulator built there.
listed=$("$vosctl" --simulator list 2>&1)
if [ "$listed" != "$(printf '16001\n12001')" ]; then
    echo "FAIL vosctl --simulator list from the build tree: $listed"; failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
