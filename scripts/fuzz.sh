#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan, UBSan) and runs each for a bounded time.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

source scripts/common.sh
bash scripts/setup.sh
build . fuzz
for target in command_line_fuzzer log_line_fuzzer; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "fuzz: $target for ${seconds}s"
  log=build/fuzz/$target.log
  if ! "build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=1100 "$corpus" \
      >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target found a fault (whole log: $log)" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+\s+DONE|Done)' "$log"
done
echo "fuzz: no fault found"
