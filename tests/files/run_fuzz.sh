#!/usr/bin/env bash
# Builds the DLF reader fuzzer with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for a bounded time. Exits non-zero
# when it finds a crash. Corpus and findings stay in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${FUZZ_SECONDS:-60}
out=build-fuzz
mkdir -p "$out/corpus" "$out/artifacts"

clang++ -std=c++20 -O1 -g -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Isrc \
  tests/files/dlf_fuzz.cpp src/files/*.cpp src/numtext/*.cpp src/settings/*.cpp \
  -lz -o "$out/dlf_fuzz"

# Seed with a valid header so the search starts past the first checks.
if [ -z "$(ls -A "$out/corpus")" ]; then
  printf '\x01\x00\x00\x00\x0a\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\xff\x00\x00\x00' > "$out/corpus/seed"
  head -c 268 /dev/zero >> "$out/corpus/seed"
fi

ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  "$out/dlf_fuzz" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
  -artifact_prefix="$out/artifacts/" "$out/corpus"
