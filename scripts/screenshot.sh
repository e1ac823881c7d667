#!/usr/bin/env bash
# Makes docs/screenshot.png, docs/screenshot-zoom.png and
# docs/screenshot-markers.png again: the window, driven through its controls
# on the default simulated bus, after a 20,000-sample run at 2 kHz, the same
# run zoomed in with the cursor box, and with markers A and B and the
# measurements window beside it; and docs/screenshot-follow.png, a window
# following a recording that vosctl record writes meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build.sh
BUILD=$VOS_BUILD
vos_build -DVOS_BUILD_APP=ON -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON -- vos_screenshot ftd2xx vosctl
# The window loads the simulated libftd2xx.so as it loads FTDI's driver; the
# default bus (no VOS_SIM_CONFIG) runs in real time, so the run takes 10 s.
env -u VOS_SIM_CONFIG QT_QPA_PLATFORM=offscreen \
  LD_LIBRARY_PATH="$BUILD/sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  "$BUILD/scripts/vos_screenshot" docs/screenshot.png docs/screenshot-zoom.png docs/screenshot-markers.png \
  docs/screenshot-follow.png "$BUILD/src/cli/vosctl"
echo "wrote docs/screenshot.png, docs/screenshot-zoom.png, docs/screenshot-markers.png and docs/screenshot-follow.png"
