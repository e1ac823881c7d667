#!/usr/bin/env bash
# Builds the application and starts it with the simulated logger as its D2XX driver.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/build.sh
# Configured with the tests and benchmarks as every script of this folder
# configures it, so no script's later run finds its targets switched off;
# only the window and the simulator are built.
vos_build -DVOS_BUILD_APP=ON -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON -- vosviewer ftd2xx
# The application loads libftd2xx.so through the library search path, as it loads FTDI's driver.
LD_LIBRARY_PATH="$VOS_BUILD/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" exec "$VOS_BUILD/src/app/vosviewer" "$@"
