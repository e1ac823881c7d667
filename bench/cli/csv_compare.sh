#!/usr/bin/env bash
# Times `vosctl csv` of a 1,000,000-sample record (all four channels) to a
# file against, in the same run and on the same values:
#   - csv_snprintf: a plain snprintf("%.5f") loop writing the same bytes,
#   - numpy.savetxt and pandas.DataFrame.to_csv with the same format.
# Each figure is the best of RUNS runs (default 9); the ratios are the
# others' time divided by vosctl's. numpy and pandas are timed inside Python,
# without the interpreter's start or the loading of the record, which favours
# them; without them, Debian's python3-numpy and python3-pandas are installed
# with apt-get (it says so first).
# Usage: bash bench/cli/csv_compare.sh   (VOS_BUILD_DIR: the build folder, default build)
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/build.sh
RUNS=${RUNS:-9}
vos_build -DVOS_BUILD_APP=ON -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON -- vosctl csv_snprintf
VOSCTL=$VOS_BUILD/src/cli/vosctl
BASELINE=$VOS_BUILD/bench/cli/csv_snprintf

# Debian's interpreter, which sees the packages apt installs.
PYTHON=/usr/bin/python3
if ! "$PYTHON" -c 'import numpy, pandas' 2>/dev/null; then
  echo "installing python3-numpy and python3-pandas with apt-get, to time numpy and pandas" >&2
  SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
  $SUDO apt-get install -y --no-install-recommends python3-numpy python3-pandas >/dev/null
fi

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# A record as a 16-bit logger delivers it: codes times a gain plus an offset.
"$PYTHON" - "$WORK/record.dlf" <<'PY'
import struct, sys
import numpy as np
n = 1_000_000
i = np.arange(n)
channels = []
for c in range(4):
    code = (32768 + 30000 * np.sin(0.0007 * i + c)).astype(np.int64) + i % 7
    channels.append(code * 0.000152590218967 - 0.0012 * c)
header = struct.pack('<iiIiidi', 1, 1, n, 0, 255, 0.0, 0).ljust(256, b'\0')
with open(sys.argv[1], 'wb') as f:
    f.write(header)
    for channel in channels:
        f.write(channel.astype('<f8').tobytes())
PY

best() {  # best wall time in seconds of RUNS runs of the command
  local best=""
  for _ in $(seq "$RUNS"); do
    local start end
    start=$(date +%s.%N); "$@"; end=$(date +%s.%N)
    best=$("$PYTHON" -c "t = $end - $start; b = '$best'; print(min(t, float(b)) if b else t)")
  done
  echo "$best"
}

vosctl_s=$(best "$VOSCTL" csv "$WORK/record.dlf" -o "$WORK/vosctl.csv")
plain_s=$(best "$BASELINE" "$WORK/record.dlf" "$WORK/plain.csv")
read -r numpy_s pandas_s < <("$PYTHON" - "$WORK" "$RUNS" <<'PY'
import sys, time
import numpy as np, pandas as pd
work, runs = sys.argv[1], int(sys.argv[2])
n = 1_000_000
data = np.fromfile(work + '/record.dlf', dtype='<f8', offset=256, count=4 * n).reshape(4, n).T
frame = pd.DataFrame(data)
def best(write):
    times = []
    for _ in range(runs):
        start = time.perf_counter(); write(); times.append(time.perf_counter() - start)
    return min(times)
numpy_s = best(lambda: np.savetxt(work + '/numpy.csv', data, fmt='%.5f', delimiter=',', newline='\r\n'))
pandas_s = best(lambda: frame.to_csv(work + '/pandas.csv', header=False, index=False, float_format='%.5f',
                                     lineterminator='\r\n'))
print(numpy_s, pandas_s)
PY
)

same() { cmp -s "$WORK/vosctl.csv" "$WORK/$1" && echo "same bytes" || echo "DIFFERENT bytes"; }
"$PYTHON" - "$vosctl_s" "$plain_s" "$numpy_s" "$pandas_s" "$(same plain.csv)" "$(same numpy.csv)" "$(same pandas.csv)" \
  "$RUNS" <<'PY'
import sys
v, plain, numpy_s, pandas_s = map(float, sys.argv[1:5])
print(f"vosctl csv, 1,000,000 samples x 4 channels to a file (best of {sys.argv[8]} runs):")
print(f"  vosctl csv              {v * 1e3:8.1f} ms")
print(f"  snprintf loop           {plain * 1e3:8.1f} ms  {plain / v:5.1f}x vosctl  ({sys.argv[5]})")
print(f"  numpy.savetxt           {numpy_s * 1e3:8.1f} ms  {numpy_s / v:5.1f}x vosctl  ({sys.argv[6]})")
print(f"  pandas.to_csv           {pandas_s * 1e3:8.1f} ms  {pandas_s / v:5.1f}x vosctl  ({sys.argv[7]})")
PY
