#!/bin/sh
# Lists, as linker options, the delay-load thunks that the program's code calls.
# The linker drops a thunk that only its import slot refers to, which leaves the slot
# pointing nowhere; naming each thunk the code uses keeps it.
# Usage: delay_keep_list.sh NM ARCHIVE DEFINITIONS... > OUTPUT
set -eu
nm=$1 archive=$2
shift 2
"$nm" -u "$archive" | sed -n 's/^ *U __imp__\(.*\)$/\1/p' | sort -u >"$archive.imports"
sed -n '/^EXPORTS$/,$p' "$@" | grep -v '^EXPORTS$' | sort -u | comm -12 - "$archive.imports" |
  sed 's/^/-Wl,-u,_/'
rm -f "$archive.imports"
