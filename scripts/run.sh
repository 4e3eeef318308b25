#!/usr/bin/env bash
# Sets up whatever is missing, builds quorv.exe and runs it under Wine: once in log mode on
# build/inventory.txt (printed afterwards), then as the key dialog. Without a display the
# dialog is shown on a headless X server and saved as build/dialog.png.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)" --target quorv >/dev/null

export WINEPREFIX="$PWD/build/run-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "run: creating the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
exe=build/windows/quorv.exe
echo "run: $exe ($(stat -c %s "$exe") bytes)"

wine "$exe" build/inventory.txt
echo "run: log mode appended to build/inventory.txt:"
cat build/inventory.txt
