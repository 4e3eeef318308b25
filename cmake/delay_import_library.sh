#!/bin/sh
# Makes the short import library of a DLL, which lld can delay-load, from the functions
# that its ordinary MinGW import library names.
# Usage: delay_import_library.sh NM LLVM_DLLTOOL IMPORT_LIBRARY DLL_NAME OUTPUT
set -eu
nm=$1 dlltool=$2 import_library=$3 dll=$4 output=$5
fail() {
  echo "delay_import_library.sh: no short import library for $dll: $*" >&2
  exit 1
}
mkdir -p "$(dirname "$output")"
# A library left by a failed run must not be linked as if it were good.
rm -f "$output"
# nm writes to a file first: `set -e` does not see a command on the left of a pipe fail.
"$nm" "$import_library" >"$output.nm" || fail "$nm failed on $import_library"
names=$(sed -n 's/^.* I __imp__\(.*\)$/\1/p' "$output.nm" | sort -u)
rm -f "$output.nm"
# Without names the library would be empty, and lld would link $dll as an ordinary import.
[ -n "$names" ] || fail "$nm names no function (__imp__ symbol) in $import_library;" \
  "check both (Debian packages binutils-mingw-w64-i686 and mingw-w64-i686-dev)"
printf 'LIBRARY %s\nEXPORTS\n%s\n' "$dll" "$names" >"$output.def"
# -k: the DLL exports the stdcall names without their @N decoration.
"$dlltool" -m i386 -k -d "$output.def" -l "$output" || fail "$dlltool failed on $output.def"
