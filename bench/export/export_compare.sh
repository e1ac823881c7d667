#!/usr/bin/env bash
# Times `vosctl export` of a series of FILES files of 1,000,000 samples
# (default 100: 100M samples per channel, 3.2 GB) in the page cache, to HDF5
# and to MAT without compression, against the baseline of the same run:
# `cat` of its files to /dev/null plus `dd` writing the export's bytes to a
# file with an fsync (as the export ends with one). Also the compressed HDF5
# export's throughput, and `vosctl csv` of the same series: size and time
# side by side. Each figure is the best of RUNS runs (default 3); memory is
# each export's peak resident set. The machine's load is printed with it.
# Usage: bash bench/export/export_compare.sh   (VOS_BUILD_DIR: the build folder)
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/build.sh
RUNS=${RUNS:-3}
FILES=${FILES:-100}
vos_build -DVOS_BUILD_APP=ON -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON -- vosctl
VOSCTL=$VOS_BUILD/src/cli/vosctl
PYTHON=/usr/bin/python3

WORK=$(mktemp -d "${TMPDIR:-/var/tmp}/vos-export-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# One file of a 16-bit logger's codes times a gain, copied FILES times.
"$PYTHON" - "$WORK/series-000001.dlf" <<'PY'
import struct, sys
import numpy as np
n = 1_000_000
i = np.arange(n)
header = struct.pack('<iiIiidi', 1, 1, n, 0, 255, 0.0, 0).ljust(256, b'\0')
with open(sys.argv[1], 'wb') as f:
    f.write(header)
    for c in range(4):
        code = (32768 + 30000 * np.sin(0.0007 * i + c)).astype(np.int64) + i % 7
        f.write((code * 0.000152590218967 - 0.0012 * c).astype('<f8').tobytes())
PY
for f in $(seq 2 "$FILES"); do cp "$WORK/series-000001.dlf" "$(printf '%s/series-%06d.dlf' "$WORK" "$f")"; done
sync  # the copies' writeback would otherwise slow the first runs down
cat "$WORK"/series-*.dlf >/dev/null  # into the page cache

# best SECONDS and peak KB of RUNS runs of the command
best() {
  local best="" peak=0
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -o "$WORK/time" -f '%e %M' "$@" >/dev/null 2>&1
    read -r t m <"$WORK/time"
    best=$("$PYTHON" -c "b = '$best'; print(min($t, float(b)) if b else $t)")
    peak=$(( m > peak ? m : peak ))
  done
  echo "$best $peak"
}

read -r cat_s _ < <(best cat "$WORK"/series-*.dlf)
line() {  # name, output, options...
  local name=$1 out=$2; shift 2
  read -r s kb < <(best "$VOSCTL" export "$WORK/series" -o "$WORK/$out" "$@")
  local bytes dd_s
  bytes=$(stat -c %s "$WORK/$out")
  read -r dd_s _ < <(best dd if=/dev/zero of="$WORK/dd.out" bs=1M count=$(( (bytes + 1048575) / 1048576 )) conv=fsync)
  "$PYTHON" -c "
s, c, d, b = $s, $cat_s, $dd_s, $bytes
print(f'$name: {s:.2f} s, {b / 1e6:.0f} MB, {s / (c + d):.2f}x (cat {c:.2f} s + dd {d:.2f} s), '
      f'{$FILES * 4e6 / s / 1e6:.0f}M samples/s, peak {$kb / 1024:.0f} MB')"
  rm -f "$WORK/$out" "$WORK/dd.out"
}
echo "series: $FILES files, ${FILES}M samples per channel; load $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
line "HDF5" export.h5
line "MAT 7.3" export.mat
line "HDF5 --compress" packed.h5 --compress
read -r csv_s _ < <(RUNS=1 best "$VOSCTL" csv "$WORK/series" -o "$WORK/series.csv")
echo "CSV: $csv_s s, $(( $(stat -c %s "$WORK/series.csv") / 1000000 )) MB"
