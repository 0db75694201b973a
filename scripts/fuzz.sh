#!/bin/sh
# Runs every libFuzzer target of a fuzz build for SECONDS each, starting from the seeds in
# tests/fuzz/corpus; what it learns stays in BUILD_DIR/fuzz-corpus. A finding stops the run
# (the crashing input is saved in BUILD_DIR/fuzz-findings) and the exit status is 1.
#   scripts/fuzz.sh BUILD_DIR SECONDS
set -eu
build=$1
seconds=$2
seeds="$(cd "$(dirname "$0")/.." && pwd)/tests/fuzz/corpus"
mkdir -p "$build/fuzz-findings"
for name in decoder table settings answers; do
  fuzzer="$build/tests/fuzz/platora-fuzz-$name"
  mkdir -p "$build/fuzz-corpus/$name"
  log="$build/fuzz-findings/$name.log"
  # A decoding signal needs more than the default 4 kB of input.
  if ! "$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/fuzz-findings/$name-" "$build/fuzz-corpus/$name" "$seeds/$name" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "fuzz $name: a finding; the input and the log are in $build/fuzz-findings" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "fuzz $name: $runs runs in $seconds s, no finding"
done
