#!/usr/bin/env bash
# The re-trigger that applies the udev rules to a logger plugged in before them
# must replay the logger's interface, where the rule that detaches ftdi_sio
# matches. Runs each `udevadm trigger` command of the postinst and the README
# with --dry-run in umockdev's fake tree (a logger and a mouse) and compares
# what it would replay. doctor's own fix is tested in doctor_test.
# Usage: trigger_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
trees=$source_dir/tests/doctor/trees
for tool in umockdev-run udevadm; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
expected="/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1
/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0"
failures=0
checked=0
while IFS=: read -r file _ command; do
    checked=$((checked + 1))
    arguments=${command#*udevadm trigger}
    arguments=${arguments%%||*}
    arguments=${arguments%%&&*}
    got=$(cd "$trees" && eval "umockdev-run -d bound.umockdev -d mouse.umockdev -- \
                                udevadm trigger --dry-run --verbose $arguments" 2>&1)
    if [ "$got" = "$expected" ]; then
        echo "ok   $file: udevadm trigger$arguments"
    else
        echo "FAIL $file: udevadm trigger$arguments replays:"; echo "$got"
        failures=$((failures + 1))
    fi
done < <(cd "$source_dir" && grep -Hn 'udevadm trigger' packaging/debian/postinst README.md)
[ "$checked" -ge 2 ] || { echo "FAIL only $checked udevadm trigger commands found (the postinst's and README's)"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ]
