#!/usr/bin/env bash
# Runs every fuzz target for a given time, four at a time, on the corpora kept under fuzz/corpus/:
# the corpus and the new inputs are then merged into the smallest set that keeps every feature reached
# (inputs up to FUZZ_MAX_LEN bytes), which replaces the corpus, and each target's executions and edges
# are printed at the end.
#   tools/fuzz-long.sh [SECONDS] [TARGET...]      (default 300 s, every target)
# FUZZ_JOBS: targets run at once (default 4). FUZZ_MAX_LEN: largest new corpus entry kept (default 4096).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
jobs=${FUZZ_JOBS:-4}
maxlen=${FUZZ_MAX_LEN:-4096}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in build-fuzz/bin/fuzz_*; do [ -x "$f" ] && targets+=("$(basename "$f")"); done
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

run_one() {
  local name=$1 work="$logs/$1"
  mkdir -p "$work/new" "fuzz/corpus/$name"
  # New finds go to a scratch folder first; only those that add coverage and are small join the corpus.
  timeout -k 10 $((seconds + 120)) "build-fuzz/bin/$name" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len="$maxlen" \
    -print_final_stats=1 -artifact_prefix="$work/" "$work/new" "fuzz/corpus/$name" >"$work/run.log" 2>&1 || true
  # The corpus is then minimised: the smallest set of inputs that keeps every feature reached.
  mkdir -p "$work/min"
  if (cd "$work" && timeout -k 10 $((seconds + 300)) "$OLDPWD/build-fuzz/bin/$name" -merge=1 \
        "$work/min" "$OLDPWD/fuzz/corpus/$name" "$work/new" >"$work/merge.log" 2>&1) &&
     [ -n "$(ls -A "$work/min")" ]; then
    rm -rf "fuzz/corpus/$name"
    mv "$work/min" "fuzz/corpus/$name"
  fi
  local execs edges crash
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/run.log" | grep -o '[0-9]*$' || echo "?")
  edges=$(grep -o 'cov: [0-9]*' "$work/run.log" | tail -n 1 | grep -o '[0-9]*' || echo "?")
  crash=$(ls "$work"/crash-* "$work"/timeout-* "$work"/oom-* 2>/dev/null | head -n 1 || true)
  printf '%-28s %12s execs %8s edges %s\n' "$name" "$execs" "$edges" "${crash:+FOUND $(basename "$crash")}" \
    >"$work/summary"
  [ -n "$crash" ] && cp "$crash" "fuzz/findings-$name-$(basename "$crash")" || true
}

running=0
for t in "${targets[@]}"; do
  run_one "$t" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

echo "== $seconds s per target"
for t in "${targets[@]}"; do cat "$logs/$t/summary"; done
du -sh fuzz/corpus
