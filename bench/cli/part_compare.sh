#!/usr/bin/env bash
# Times, on a recorded series of FILES files of 1,000,000 samples at 10 kHz
# (default 20; 100 for the full 100M), in the same run:
#   - `vosctl csv --every 1s` (summaries from the cache, built by a first run)
#     against `cat` of the series' files,
#   - `vosctl csv --from/--to` of 1,000,000 rows from the series' middle
#     against `vosctl csv` of a 1,000,000-sample file of the same samples,
#   - `vosctl info --from/--to` of all but the ends, the statistics of every
#     channel from the summaries.
# Each figure is the best of RUNS runs, with the files in the page cache.
# Usage: bash bench/cli/part_compare.sh [BUILD_DIR]   (default: build)
set -euo pipefail

BUILD=${1:-build}
RUNS=${RUNS:-5}
FILES=${FILES:-20}
VOSCTL=$BUILD/src/cli/vosctl
[[ -x $VOSCTL ]] || { echo "missing $VOSCTL: cmake --build $BUILD --target vosctl" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export XDG_CACHE_HOME=$WORK/cache

python3 - "$WORK" "$FILES" <<'PY'
import array, math, random, struct, sys
work, files, n = sys.argv[1], int(sys.argv[2]), 1_000_000
start = 1796704200000000
data = array.array('d', [1.5 + 0.5 * math.sin(i * 0.001) + random.random() * 0.01 for i in range(n)]).tobytes()
for f in range(files):
    head = struct.pack('<iiIiidi', 1, 1, n, 0, 0, 0.0, 0).ljust(32, b'\0')
    stamp = b'VOSREC01' + struct.pack('<q', start + f * n * 100) + bytes([9] * 16) + struct.pack('<QQ', f + 1, f * n)
    with open('%s/big-%06d.dlf' % (work, f + 1), 'wb') as out:
        out.write((head + stamp).ljust(256, b'\0') + data * 4)
with open(work + '/one.dlf', 'wb') as out:
    out.write(struct.pack('<iiIiidi', 1, 1, n, 0, 0, 0.0, 0).ljust(256, b'\0') + data * 4)
PY

best() {
  local best=
  for ((run = 0; run < RUNS; ++run)); do
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null
    end=$(date +%s%N)
    local ms=$(((end - start) / 1000000))
    [[ -z $best || $ms -lt $best ]] && best=$ms
  done
  echo "$best"
}

"$VOSCTL" info "$WORK/big" >/dev/null  # builds and caches the summaries
middle=$((FILES / 2 * 1000000))
cat_ms=$(best cat "$WORK"/big-*.dlf)
every_ms=$(best "$VOSCTL" csv "$WORK/big" --every 1s)
one_ms=$(best "$VOSCTL" csv "$WORK/one.dlf")
part_ms=$(best "$VOSCTL" csv "$WORK/big" --from "$middle" --to $((middle + 1000000)))
info_ms=$(best "$VOSCTL" info "$WORK/big" --from 1000 --to $((FILES * 1000000 - 1000)))
echo "series of $FILES x 1,000,000 samples, best of $RUNS runs"
echo "cat of its files                          ${cat_ms} ms"
echo "csv --every 1s                            ${every_ms} ms  ($(awk "BEGIN{printf \"%.2f\", $every_ms/$cat_ms}")x cat)"
echo "csv of a 1M-sample file                   ${one_ms} ms"
echo "csv --from/--to of 1M rows in the middle  ${part_ms} ms  ($(awk "BEGIN{printf \"%.2f\", $part_ms/$one_ms}")x the file)"
echo "info --from/--to of all but the ends      ${info_ms} ms"
