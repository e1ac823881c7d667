#!/usr/bin/env bash
# Recording soak: 3,000,000 samples at 10 kHz (5 minutes at the logger's own
# pace) through the simulated driver library, written to DLF files and
# streamed as CSV to /dev/null at the same time. Reports the frames the
# simulator lost, the resident memory over time, the CPU share of one core,
# the bytes written per sample and the working file's syncs per second (seen
# by the preloaded tests/cli/sync_spy.c).
# Usage: bash scripts/record_soak.sh [SAMPLES]   (default 3000000)
set -euo pipefail
cd "$(dirname "$0")/.."
samples=${1:-3000000}
source scripts/build.sh
if [[ ${VOS_SOAK_NO_BUILD:-} != 1 ]]; then
  bash scripts/setup.sh
  # The sync spy is a test library: the tests must be configured in.
  vos_build -DVOS_BUILD_APP=ON -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON -- vosctl ftd2xx vos_sync_spy
fi
spy=$(find "$VOS_BUILD" -name 'libvos_sync_spy.so' | head -n 1)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The default simulated bus, at the real-time pace.
unset VOS_SIM_CONFIG

start=$(date +%s.%N)
LD_PRELOAD=$spy VOS_SYNC_SPY_LOG="$work/syncs" \
  "$VOS_BUILD/src/cli/vosctl" --driver "$VOS_BUILD/sim/libftd2xx.so" record --samples "$samples" --csv - -o "$work/soak" \
  >/dev/null 2>"$work/stderr" &
pid=$!

echo "seconds  resident KiB"
rss_at_minute=""
rss_max_after_minute=0
last_print=-1
while kill -0 "$pid" 2>/dev/null; do
  now=$(date +%s.%N)
  elapsed=$(awk -v a="$start" -v b="$now" 'BEGIN { printf "%d", b - a }')
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
  # Bytes the process had written by then: through write calls, and those that reached the disk.
  io=$(awk '/^wchar:/ { w = $2 } /^write_bytes:/ { d = $2 } END { if (w != "") print w, d }' "/proc/$pid/io" 2>/dev/null || true)
  [[ -n $io ]] && read -r wchar disk_bytes <<<"$io"
  if [[ -n $rss ]]; then
    (( elapsed % 10 == 0 && elapsed != last_print )) && { echo "$elapsed  $rss"; last_print=$elapsed; }
    if (( elapsed >= 60 )); then
      [[ -z $rss_at_minute ]] && rss_at_minute=$rss
      (( rss > rss_max_after_minute )) && rss_max_after_minute=$rss
    fi
  fi
  sleep 1
done
status=0
wait "$pid" || status=$?
end=$(date +%s.%N)
# CPU seconds of the finished child (user and system), as the shell counts them.
times >"$work/times"
read -r child_user child_sys < <(tail -n 1 "$work/times" | sed 's/m/ /g; s/s//g' |
  awk '{ printf "%.3f %.3f\n", $1 * 60 + $2, $3 * 60 + $4 }')

cat "$work/stderr"
echo "exit status: $status"
echo "files: $(ls "$work" | grep -c '\.dlf$')"
syncs=$(grep -c '^s' "$work/syncs" 2>/dev/null || echo 0)
awk -v w="${wchar:-0}" -v d="${disk_bytes:-0}" -v n="$samples" -v s="$syncs" -v a="$start" -v b="$end" 'BEGIN {
  printf "written per sample (one second before the end): %.1f bytes through write calls (CSV included), %.1f bytes to the disk\n", w / n, d / n
  printf "working-file syncs: %d, %.2f per second\n", s, s / (b - a)
}'
awk -v a="$start" -v b="$end" -v u="$child_user" -v s="$child_sys" 'BEGIN {
  wall = b - a
  printf "wall %.1f s, CPU %.2f s (user %.2f, system %.2f), share of one core %.2f %%\n", wall, u + s, u, s, 100 * (u + s) / wall
}'
if [[ -n $rss_at_minute ]]; then
  echo "resident memory: $rss_at_minute KiB at one minute, at most $rss_max_after_minute KiB after it" \
       "(growth $((rss_max_after_minute - rss_at_minute)) KiB)"
fi
exit "$status"
