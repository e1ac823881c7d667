#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer and
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build of the threaded
# tests, and a bounded run of the file-format fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
# Three build trees of the same sources: a compiler cache keyed on paths
# relative to the checkout lets them, and later clones, share the objects.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
fi
export QT_QPA_PLATFORM=offscreen
passed=0
failed=0
broken=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Runs ctest and adds its counts to the totals printed at the end.
run_ctest() {
  local status=0
  ctest "$@" 2>&1 | tee "$log" || status=1
  local total bad
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)
  bad=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)
  passed=$((passed + ${total:-0} - ${bad:-0}))
  failed=$((failed + ${bad:-0}))
  return $status
}

echo "== build and test (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
run_ctest --test-dir build -j "$jobs" --output-on-failure || broken=1

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOS_SANITIZE=address,undefined \
      -DVOS_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  run_ctest --test-dir build-asan -j "$jobs" --output-on-failure || broken=1

echo "== threaded tests with ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOS_SANITIZE=thread \
      -DVOS_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="suppressions=$PWD/tests/support/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
  run_ctest --test-dir build-tsan -j "$jobs" -L threads --output-on-failure || broken=1

echo "== file-format fuzzer (bounded)"
if bash tests/files/run_fuzz.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

echo "== Debian packages: build, lintian, install, run, purge"
status=0
bash tests/packaging/run.sh || status=$?
case $status in
  0) passed=$((passed + 1)) ;;
  77) echo "packaging test skipped" ;;
  *) failed=$((failed + 1)) ;;
esac

echo
echo "all builds: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$broken" -eq 0 ]
