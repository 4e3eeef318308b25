#!/bin/sh
# Writes, as linker options, the delay-load thunks that the program's code calls: every
# function of the delay-load definitions that one of the given objects or static libraries
# imports. The linker drops a thunk that only its import slot refers to, which leaves the
# slot pointing nowhere; naming each thunk the code uses keeps it.
# Usage: delay_keep_list.sh NM OUTPUT DEFINITIONS... -- OBJECT_OR_ARCHIVE...
set -eu
nm=$1 output=$2
shift 2
definitions=
while [ "$1" != -- ]; do
  definitions="$definitions $1"
  shift
done
shift
"$nm" -u "$@" | sed -n 's/^ *U __imp__\(.*\)$/\1/p' | sort -u >"$output.imports"
# shellcheck disable=SC2086 # one word per definitions file
grep -hv -e '^LIBRARY ' -e '^EXPORTS$' $definitions | sort -u | comm -12 - "$output.imports" |
  sed 's/^/-Wl,-u,_/' >"$output"
rm -f "$output.imports"
