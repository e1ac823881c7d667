#!/usr/bin/env bash
# Runs the tests that start processes or threads (ctest labels `process` and
# `threads`) of a configured and built tree ROUNDS times while stress-ng keeps
# every core busy: how a change to a timing-sensitive test is checked. Not part
# of .ci/run, since it takes long. Each round's output is kept in
# BUILD_DIR/Testing/under-load-N.log; the last line gives the rounds run, the
# load average and the failures.
#
#   bash scripts/test-under-load.sh BUILD_DIR [ROUNDS]     (ROUNDS: 5 by default)
#
# A tree built with a sanitizer gets the options scripts/test.sh gives it.
# LABELS (a ctest label regex) and CTEST_ARGS (e.g. "-R FollowProcess") narrow the tests.
set -euo pipefail
usage() { echo "usage: $0 BUILD_DIR [ROUNDS]" >&2; exit 2; }
[ $# -ge 1 ] && [ $# -le 2 ] || usage
build=$1
rounds=${2:-5}
[[ $rounds =~ ^[1-9][0-9]*$ ]] || usage
[ -f "$build/CTestTestfile.cmake" ] || { echo "$0: $build is no configured build tree" >&2; exit 2; }
build=$(cd "$build" && pwd)
cd "$(dirname "$0")/.."
command -v stress-ng >/dev/null || { echo "$0: stress-ng is missing: bash scripts/setup.sh installs it" >&2; exit 2; }

sanitize=$(sed -n 's/^VOS_SANITIZE:[A-Z]*=//p' "$build/CMakeCache.txt")
case $sanitize in
  *thread*) export TSAN_OPTIONS="suppressions=$PWD/tests/support/tsan.supp halt_on_error=1 second_deadlock_stack=1" ;;
  *address*) export ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ;;
esac
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
failures=$(mktemp)
mkdir -p "$build/Testing"

# One CPU stressor per core, at the tests' own priority, for as long as the rounds run.
stress-ng --cpu "$jobs" --quiet &
stress=$!
trap 'kill "$stress" 2>/dev/null; wait "$stress" 2>/dev/null; rm -f "$failures"' EXIT

failed=0
tests=0
loads=()
for ((round = 1; round <= rounds; round++)); do
  # Each round's whole output, the failed tests' own output included, stays for a look.
  log=$build/Testing/under-load-$round.log
  echo "== round $round of $rounds: $build, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  # shellcheck disable=SC2086
  ctest --test-dir "$build" -L "${LABELS:-process|threads}" -j "$jobs" --output-on-failure ${CTEST_ARGS:-} \
    >"$log" 2>&1 || true
  grep -E '\*\*\*(Failed|Timeout|Exception)|tests passed|Total Test time' "$log" || true
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
  if [ -z "$total" ]; then
    echo "round $round: ctest gave no summary:" && tail -20 "$log"
    total=0 bad=1
  fi
  # The failed tests' names, for the summary.
  sed -n '/^The following tests FAILED:/,/^$/s/^[[:space:]]*[0-9]* - \(.*\) (.*)$/round '"$round"': \1/p' "$log" \
    >>"$failures"
  tests=$total
  failed=$((failed + bad))
  loads+=("$(cut -d' ' -f1 /proc/loadavg)")
done

if [ -s "$failures" ]; then
  echo "failed:"
  cat "$failures"
fi
echo "test-under-load: $rounds rounds of $tests tests of $build (labels ${LABELS:-process|threads}," \
     "$jobs CPU stressors, load average ${loads[*]} at the ends of the rounds): $failed failures"
[ "$failed" -eq 0 ]
