#!/bin/sh
# Makes the short import library of a DLL, which lld can delay-load, from the functions
# that its ordinary MinGW import library names.
# Usage: delay_import_library.sh NM LLVM_DLLTOOL IMPORT_LIBRARY DLL_NAME OUTPUT
set -eu
nm=$1 dlltool=$2 import_library=$3 dll=$4 output=$5
mkdir -p "$(dirname "$output")"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" "$import_library" | sed -n 's/^.* I __imp__\(.*\)$/\1/p' | sort -u
} >"$output.def"
# -k: the DLL exports the stdcall names without their @N decoration.
"$dlltool" -m i386 -k -d "$output.def" -l "$output"
