#!/usr/bin/env bash
# Builds and runs every test: the normal build, the AddressSanitizer and
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build of the threaded
# tests, and a bounded run of the file-format fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== build and test (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DVOS_BUILD_TESTS=ON -DVOS_BUILD_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOS_SANITIZE=address,undefined \
      -DVOS_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure

echo "== threaded tests with ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOS_SANITIZE=thread \
      -DVOS_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS="suppressions=$PWD/tests/support/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -j "$jobs" -L threads --output-on-failure

if [ -x tests/files/run_fuzz.sh ]; then
  echo "== file-format fuzzer (bounded)"
  bash tests/files/run_fuzz.sh
fi
