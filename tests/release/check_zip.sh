#!/usr/bin/env bash
# Checks the release zip against the tree and build it came from: its entries are the five
# names under quorv-NAME/, its quorv.exe is the build's byte for byte, the reader, README and
# runbook are the tree's, and its SHA256SUMS lists those four in sha256sum's format and verifies.
# Usage (in the tree): tests/release/check_zip.sh ZIP EXE
set -euo pipefail
zip=$1 exe=$2 folder=$(basename "$1" .zip)
unpacked=$(mktemp -d)/$folder
unzip -q "$zip" -d "${unpacked%/*}"
names=$(printf '%s\n' Import-QuorvLog.ps1 README.md docs/deploying.md quorv.exe)
fail() { echo "release zip $zip: $*" >&2; exit 1; }
[ "$(unzip -Z1 "$zip")" = "$(printf "$folder/%s\n" Import-QuorvLog.ps1 README.md SHA256SUMS \
  docs/deploying.md quorv.exe)" ] || fail "holds other entries: $(unzip -Z1 "$zip" | tr '\n' ' ')"
cmp "$exe" "$unpacked/quorv.exe" || fail "its quorv.exe is not $exe"
for file in admin/Import-QuorvLog.ps1 README.md docs/deploying.md; do
  cmp "$file" "$unpacked/${file#admin/}" || fail "its copy of $file is not the tree's"
done
[ "$(sed 's/^[0-9a-f]\{64\}  //' "$unpacked/SHA256SUMS")" = "$names" ] ||
  fail "its SHA256SUMS does not list the four files as sha256sum does"
(cd "$unpacked" && sha256sum --strict --quiet -c SHA256SUMS) || fail "its SHA256SUMS does not verify"
echo "release zip $zip: quorv.exe is $exe, SHA256SUMS verifies"
