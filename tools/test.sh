#!/usr/bin/env bash
# Builds everything and runs every test: the sanitizer build of the core, link and socket (TLS) libraries,
# a short run of each fuzzer (ZELT_FUZZ_SECONDS each, 12 by default: about four minutes for all of
# them; tools/fuzz-long.sh runs them longer), then the full test suite of the normal build.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

echo "== sanitizer build (ASan + UBSan)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan

if [ -d fuzz ]; then
  echo "== fuzzers"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  for f in build-fuzz/bin/fuzz_*; do
    [ -x "$f" ] || continue
    name=$(basename "$f")
    corpus=$(mktemp -d)
    [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
    echo "-- $name"
    "$f" -max_total_time="${ZELT_FUZZ_SECONDS:-12}" -rss_limit_mb=2048 -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
    rm -rf "$corpus"
  done
fi

echo "== build and test"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default
