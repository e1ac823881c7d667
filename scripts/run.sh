#!/usr/bin/env bash
# Builds the application and starts it with the simulated logger as its D2XX driver.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DVOS_BUILD_TESTS=OFF -DVOS_BUILD_BENCH=OFF >/dev/null
cmake --build build --target vosviewer ftd2xx
# The application loads libftd2xx.so through the library search path, as it loads FTDI's driver.
LD_LIBRARY_PATH="$PWD/build/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" exec build/src/app/vosviewer "$@"
