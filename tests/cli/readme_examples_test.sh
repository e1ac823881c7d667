#!/usr/bin/env bash
# Runs every line of README's vosctl command block, as written, in a scratch
# folder against the simulated logger, and checks that each ends with status 0,
# so that the examples cannot rot. The block's `$PWD/build` stands for the
# build folder under test; the simulated bus is the default one's two loggers
# at the instant pace, so that a recording of an hour takes seconds.
# Usage: readme_examples_test.sh README VOSCTL
set -uo pipefail
readme=$1
vosctl=$2
build=$(cd "$(dirname "$vosctl")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

block=$(awk '/^## vosctl/ { found = 1 } found && /^```sh$/ { inside = 1; next } inside && /^```$/ { exit } inside { print }' "$readme")
if [[ -z $block ]]; then
    echo "FAIL no sh block after the heading '## vosctl' in $readme"
    exit 1
fi
cat >"$scratch/bus.conf" <<'CONF'
pace instant
device serial=16001 resolution=16
channel 0 sine freq=2 amp=4.6 offset=5
channel 1 triangle freq=1 amp=4.6 offset=5
channel 2 square freq=2 amp=4.6 offset=5
channel 3 sawtooth freq=3 amp=4.6 offset=5
device serial=12001 resolution=12
channel 0 triangle freq=2 amp=4.6 offset=5
channel 1 sawtooth freq=1 amp=4.6 offset=5
channel 2 sine freq=5 amp=4.6 offset=5
channel 3 square freq=4 amp=4.6 offset=5
CONF
export VOS_SIM_CONFIG=$scratch/bus.conf XDG_CACHE_HOME=$scratch/cache XDG_DATA_HOME=$scratch/data
unset LD_LIBRARY_PATH
mkdir "$scratch/work"
cd "$scratch/work" || exit 1

failures=0
lines=0
while IFS= read -r line; do
    [[ -z ${line// /} || $line =~ ^[[:space:]]*# ]] && continue
    lines=$((lines + 1))
    command=${line//\$PWD\/build/$build}
    eval "$command" >"$scratch/out" 2>"$scratch/err" </dev/null
    status=$?
    if [[ $status != 0 ]]; then
        echo "FAIL status $status: $line"
        sed 's/^/    /' "$scratch/err" | head -n 20
        failures=$((failures + 1))
    else
        echo "ok   $line"
    fi
done <<<"$block"
# The block sets up the build tree's vosctl and the simulated driver before the first command.
for expected in 'export PATH=' 'export LD_LIBRARY_PATH='; do
    grep -q "^$expected" <<<"$block" || { echo "FAIL the block has no line $expected..."; failures=$((failures + 1)); }
done
[[ $(type -P vosctl) == "$build/src/cli/vosctl" ]] || { echo "FAIL vosctl is not the build's: $(type -P vosctl)"; failures=$((failures + 1)); }
echo "$lines lines, $failures failed"
exit $((failures > 0 || lines < 10))
