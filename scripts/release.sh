#!/usr/bin/env bash
# Sets up whatever is missing, then in a sandbox (scripts/sandbox.sh) builds quorv.exe and the
# release zip of the checked-out commit: build/release/quorv-COMMIT.zip, and
# build/release/SHA256SUMS listing it. COMMIT is the commit's short hash, with -dirty when
# tracked files have changed since. The zip is made by the CMake target quorv_zip
# (cmake/release_zip.sh), the same one the test command checks with reprotest.
set -euo pipefail
source "$(dirname "$0")/sandbox.sh" -- "$@"
cd "$(dirname "$0")/.."
release_identity

build . windows --target quorv_zip
rm -rf build/release
mkdir -p build/release
zip=quorv-$QUORV_RELEASE_NAME.zip
cp "build/windows/release/$zip" build/release/
(cd build/release && sha256sum "$zip" >SHA256SUMS)
echo "release: build/release/$zip ($(stat -c %s "build/release/$zip") bytes)"
cat build/release/SHA256SUMS
