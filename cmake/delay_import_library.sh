#!/bin/sh
# Makes a delay-load import library for a DLL from its ordinary MinGW import library.
# Usage: delay_import_library.sh NM DLLTOOL IMPORT_LIBRARY DLL_NAME OUTPUT
set -eu
nm=$1 dlltool=$2 import_library=$3 dll=$4 output=$5
definitions="$output.def"
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$nm" "$import_library" | sed -n 's/^.* I __imp__\(.*\)$/\1/p' | sort -u
} >"$definitions"
# -k: the DLL exports the stdcall names without their @N decoration.
"$dlltool" -k --input-def "$definitions" --dllname "$dll" --output-delaylib "$output"
