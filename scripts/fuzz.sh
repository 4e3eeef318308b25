#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan, UBSan) and runs each for a bounded time.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# Inputs that made a target fail are kept as build/fuzz/artifacts/TARGET-crash-*.
set -euo pipefail
source "$(dirname "$0")/sandbox.sh" -- "$@"
cd "$(dirname "$0")/.."
seconds=${1:-60}

build . fuzz
for target in command_line_fuzzer log_line_fuzzer; do
  corpus=build/fuzz/corpus/$target
  mkdir -p "$corpus" build/fuzz/artifacts
  echo "fuzz: $target for ${seconds}s"
  log=build/fuzz/$target.log
  if ! "build/fuzz/tests/fuzz/$target" -max_total_time="$seconds" -max_len=1100 \
      -artifact_prefix="build/fuzz/artifacts/$target-" "$corpus" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target found a fault (whole log: $log)" >&2
    exit 1
  fi
  grep -E '^(#[0-9]+\s+DONE|Done)' "$log"
done
echo "fuzz: no fault found"
