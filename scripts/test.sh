#!/usr/bin/env bash
# Sets up whatever is missing, then in a sandbox (scripts/sandbox.sh) builds everything and
# runs the native unit tests (ASan/UBSan), the Windows-side tests under Wine, the
# end-to-end tests on the Wine test machine and, where dotnet is, the admin's reader under
# PowerShell there; checks that the release zip (scripts/release.sh) builds reproducibly and
# holds the build's quorv.exe, and that ended runs leave their host as it was. Exits non-zero
# when any check fails.
set -euo pipefail
source "$(dirname "$0")/sandbox.sh" -- "$@"
cd "$(dirname "$0")/.."

release_identity
build . native
build . windows --target all quorv_zip
zip=quorv-$QUORV_RELEASE_NAME.zip
status=0

# Two builds of the release zip, quorv.exe in it, from copies of the sources: a control
# build and one that varies all reprotest can vary but the user (faketime, disorderfs,
# locale, time zone, umask, host and domain name, kernel personality, CPUs, HOME, PATH, build
# path). The copies have no .git: the zip's name and time come with the command. When they
# differ, diffoscope's report is kept in build/reproduce/out.
echo "== reproducible build (reprotest)"
rm -rf build/reproduce
mkdir -p build/reproduce/source
tar --exclude=./build --exclude='./build-*' --exclude=./.git -cf - . | tar -xf - -C build/reproduce/source
if reprotest --verbosity=1 --vary=-user_group --store-dir=build/reproduce/out -s build/reproduce/source \
    "export QUORV_RELEASE_NAME=$QUORV_RELEASE_NAME SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH &&
    cmake --preset windows && cmake --build --preset windows --target quorv_zip" \
    "build/windows/release/$zip" >build/reproduce/reprotest.log 2>&1; then
  echo "$zip is the same from both builds: $(sed -n "s/ .*$zip\$//p" build/reproduce/out/SHA256SUMS)"
  # The zip built in this tree is the one built from a copy without .git, at another path.
  sha256sum --quiet -c build/reproduce/out/SHA256SUMS || { echo "build/windows/release/$zip" \
    "differs from the one reprotest built from a copy of the tree" >&2; status=1; }
else
  tail -n 30 build/reproduce/reprotest.log
  echo "$zip differs between two builds of the same sources (diffoscope's report:" \
    "build/reproduce/out/experiment-1.diffoscope.out; whole log: build/reproduce/reprotest.log)" >&2
  status=1
fi
echo "== the release zip holds the build's quorv.exe and a hash list that verifies"
bash tests/release/check_zip.sh "build/windows/release/$zip" build/windows/quorv.exe || status=1

echo "== native unit tests"
ctest --preset native --progress || status=1
echo "== runs killed or stopped by a signal leave the host as it was"
bash tests/testbed_kill_check.sh build/windows || status=1
echo "== Windows-side, end-to-end and reader tests under Wine"
scripts/testbed.sh build/windows ctest --preset windows || status=1
[ "$status" = 0 ]
