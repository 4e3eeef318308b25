#!/usr/bin/env bash
# Sets up whatever is missing, builds everything and runs all three test levels:
# native unit tests (ASan/UBSan), the Windows-side tests under Wine, and the end-to-end
# tests of quorv.exe on the Wine test machine. Checks too that a second, clean build of
# quorv.exe in another folder gives the same bytes. Exits non-zero when any check fails.
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/common.sh

bash scripts/setup.sh
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
  status=1
fi

echo "== native unit tests"
ctest --preset native --progress || status=1
echo "== the test bed's X server does not hold its lock"
scripts/testbed.sh build/windows bash tests/testbed_lock_check.sh || status=1
echo "== a killed run of the test bed and the SMB server leaves nothing once the next has run"
bash tests/testbed_kill_check.sh build/windows || status=1
echo "== Windows-side and end-to-end tests under Wine"
scripts/testbed.sh build/windows ctest --preset windows || status=1
exit "$status"
