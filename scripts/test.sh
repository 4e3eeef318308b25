#!/usr/bin/env bash
# Sets up whatever is missing, builds everything and runs all three test levels:
# native unit tests (ASan/UBSan), the Windows-side tests under Wine, and the end-to-end
# tests of quorv.exe on the Wine test machine. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
build_log=build/build.log
mkdir -p build

bash scripts/setup.sh

# Build output goes to a log, shown only when the build fails.
build() {
  echo "build: $1"
  if ! { cmake --preset "$1" && cmake --build --preset "$1" -j"$jobs"; } >>"$build_log" 2>&1; then
    tail -n 60 "$build_log"
    echo "build: $1 failed (whole log: $build_log)" >&2
    exit 1
  fi
}
: >"$build_log"
build native
build windows

status=0
echo "== native unit tests"
ctest --preset native --progress || status=1
echo "== Windows-side and end-to-end tests under Wine"
scripts/testbed.sh build/windows ctest --preset windows || status=1
exit "$status"
