#!/usr/bin/env bash
# Builds and runs the acquisition soak: 100,000 samples at 10 kHz through the
# simulated logger loaded as the driver, with the live view drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
source scripts/build.sh
vos_build -DVOS_BUILD_APP=ON -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON -- soak_acquisition ftd2xx
LD_LIBRARY_PATH="$VOS_BUILD/sim" QT_QPA_PLATFORM=offscreen "$VOS_BUILD/bench/acquisition/soak_acquisition" "$@"
