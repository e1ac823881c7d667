#!/usr/bin/env bash
# Each script that builds something configures the build folder with what it
# needs: started on a folder configured without the tests and the benchmarks
# (as scripts/run.sh once left build/), each still finds every target it
# builds. The scripts run in their check mode, which configures and builds nothing.
# Usage: configure_test.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
source_dir=$1
scratch=$2
failures=0
for script in scripts/run.sh scripts/soak.sh scripts/record_soak.sh scripts/screenshot.sh bench/cli/csv_compare.sh; do
    rm -rf "$scratch"
    if ! cmake -S "$source_dir" -B "$scratch" -G Ninja -DVOS_BUILD_TESTS=OFF -DVOS_BUILD_BENCH=OFF >/dev/null; then
        echo "FAIL cannot configure $scratch"; exit 1
    fi
    if out=$(VOS_BUILD_DIR=$scratch VOS_BUILD_CHECK_ONLY=1 timeout 300 bash "$source_dir/$script" 2>&1); then
        echo "ok   $script"
    else
        echo "FAIL $script: $out"; failures=$((failures + 1))
    fi
done
rm -rf "$scratch"
exit $((failures > 0))
