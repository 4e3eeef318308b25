#!/usr/bin/env bash
# Makes the release zip OUT_DIR/quorv-NAME.zip, the one way it is made (the CMake target
# quorv_zip calls it, for scripts/release.sh and the test command's reprotest alike). Its one
# folder quorv-NAME/ holds quorv.exe, the admin's reader, the README, the runbook and a
# SHA256SUMS of those four. The same inputs give the same bytes wherever and whenever it
# runs: NAME and the time of every entry come from the caller, as QUORV_RELEASE_NAME and
# SOURCE_DATE_EPOCH (the commit's; reprotest builds from a copy without .git). zip -X stores
# no owner or extra time fields, -D no folder entries; Debian's strip-nondeterminism then
# sets every entry's time to SOURCE_DATE_EPOCH (in UTC: zip keeps local DOS times), its
# permissions to 644 or 755 whatever the umask, and the entries in name order.
# Usage: release_zip.sh EXE SOURCE_DIR OUT_DIR
set -euo pipefail
exe=$1 source=$2 out=$3
: "${QUORV_RELEASE_NAME:?names the zip: the commit, as scripts/release.sh sets it}"
: "${SOURCE_DATE_EPOCH:?is the time of every entry: the commit time, as scripts/release.sh sets it}"
folder=quorv-$QUORV_RELEASE_NAME

rm -rf "$out"
mkdir -p "$out/$folder/docs"
cp "$exe" "$out/$folder/quorv.exe"
cp "$source/admin/Import-QuorvLog.ps1" "$source/README.md" "$out/$folder/"
cp "$source/docs/deploying.md" "$out/$folder/docs/"
cd "$out"
# The runbook keeps its path, docs/deploying.md, so the README's link to it holds.
(cd "$folder" && sha256sum Import-QuorvLog.ps1 README.md docs/deploying.md quorv.exe >SHA256SUMS)
# The entries in the byte order of their names, the order strip-nondeterminism keeps. ZIPOPT
# would add options of the caller's to zip's.
env -u ZIPOPT zip -q -X -D "$folder.zip" "$folder/Import-QuorvLog.ps1" "$folder/README.md" \
  "$folder/SHA256SUMS" "$folder/docs/deploying.md" "$folder/quorv.exe"
strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" "$folder.zip"
rm -rf "$folder"
