#!/usr/bin/env bash
# The set-up's package-list update against a stand-in apt-get that answers as a mirror did:
# an index cut short by a mirror in mid-sync is warned about and the set-up goes on to the
# install; a mirror that answers nothing stops it at once with a clear line.
set -euo pipefail
source "$(dirname "$0")/../../scripts/setup.sh"
work=$(mktemp -d)
apt_log=$work/apt.log apt_output=$work/apt-update.out
cd "$work"
# Both stand-ins note their calls; apt-get runs ./answer with the number of its call.
printf '#!/bin/sh\necho "$*" >>"%s/calls"\n' "$work" | tee sleep >apt-get
echo 'exec ./answer "$(grep -c update calls)"' >>apt-get
chmod +x sleep apt-get
echo 'Hit:1 http://deb.example/debian bookworm InRelease' >hit
cat >stale <<'END'
Err:2 http://deb.example/debian-security bookworm-security/main i386 Packages
E: Failed to fetch http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress?
E: Some index files failed to download. They have been ignored, or old ones used instead.
END
printf '%s\n' 'Err:1 http://deb.example/debian bookworm InRelease' "  Temporary failure resolving 'deb.example'" \
  'W: Some index files failed to download. They have been ignored, or old ones used instead.' >unreachable

failures=0
# check NAME STATUS CALLS PATTERN ANSWER: the update step, with apt-get answering by the shell
# code ANSWER, exits with STATUS after CALLS calls of apt-get and sleep and prints PATTERN.
check() {
  printf '#!/bin/sh\n%s\n' "$5" >answer && chmod +x answer && rm -f calls
  local got=0
  (PATH=$work:$PATH apt_update_once && echo "install would follow") >out 2>&1 || got=$?
  if [ "$got" != "$2" ] || [ "$(wc -l <calls)" != "$3" ] || ! grep -Eq "$4" out; then
    echo "FAIL $1: exit $got (want $2), $(wc -l <calls) calls (want $3):" && cat out
    failures=$((failures + 1))
  fi
}
check fetched 0 1 '^install would follow' 'cat hit'
check mid-sync-then-fetched 0 3 '^install would follow' '[ $1 = 2 ] && cat hit || { cat hit stale; exit 100; }'
check mid-sync-twice 0 3 'E: Failed to fetch .*Packages.xz  File has unexpected size' 'cat hit stale; exit 100'
check nothing-fetched 1 1 'reached no package mirror' 'cat unreachable'
cd / && rm -rf "$work"
echo "$((4 - failures)) passed, $failures failed"
[ "$failures" = 0 ]
