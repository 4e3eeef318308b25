#!/usr/bin/env bash
# Sets up whatever is missing, builds everything and runs all three test levels:
# native unit tests (ASan/UBSan), the Windows-side tests under Wine, and the end-to-end
# tests of quorv.exe on the Wine test machine. Checks too that a second, clean build of
# quorv.exe in another folder gives the same bytes, and that a run killed with SIGKILL
# leaves the host as it was. Everything after the set-up runs in sandboxes
# (scripts/sandbox.sh) that end with it. Exits non-zero when any check fails.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh

# In a sandbox: the builds, the reproducible build and the native tests. Exits 1 when a
# build fails, 3 when a check fails.
if [ "${1:-}" = --build-and-native ]; then
  build . native
  build . windows
  # A clean build of quorv.exe alone, from a copy of the tree in another folder.
  copy=build/reproduce/quorv
  rm -rf build/reproduce
  mkdir -p "$copy"
  tar --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -xf - -C "$copy"
  build "$copy" windows --target quorv
  status=0
  echo "== reproducible build"
  if cmp build/windows/quorv.exe "$copy/build/windows/quorv.exe"; then
    echo "quorv.exe is the same from both folders: $(sha256sum <build/windows/quorv.exe | cut -d' ' -f1)"
  else
    echo "quorv.exe differs between two builds of the same sources" >&2
    status=3
  fi
  echo "== native unit tests"
  ctest --preset native --progress || status=3
  exit "$status"
fi

bash scripts/setup.sh
status=0
scripts/sandbox.sh "$0" --build-and-native || status=$?
[ "$status" != 1 ] || exit 1
echo "== a run killed with SIGKILL leaves the host as it was, at once"
bash tests/testbed_kill_check.sh build/windows || status=1
echo "== Windows-side and end-to-end tests under Wine"
scripts/testbed.sh build/windows ctest --preset windows || status=1
[ "$status" = 0 ]
