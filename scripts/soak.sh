#!/usr/bin/env bash
# Builds and runs the acquisition soak: 100,000 samples at 10 kHz through the
# simulated logger loaded as the driver, with the live view drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target soak_acquisition ftd2xx
LD_LIBRARY_PATH="$PWD/build/sim" QT_QPA_PLATFORM=offscreen build/bench/acquisition/soak_acquisition "$@"
