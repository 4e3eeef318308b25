#!/usr/bin/env bash
# Start-up of the key dialog on the Wine test machine, printed as a table: the time from
# starting quorv.exe to its dialog window being visible, beside a minimal Win32 program
# that shows an empty dialog from a template. Both are started in turns by the e2e driver,
# which times them inside Wine and closes each window once it shows; every figure is the
# median of the runs, after one warm-up start of each. Goal: within 1.2x.
# Usage: scripts/bench_dialog.sh [RUNS]   (default 15)
#        scripts/testbed.sh BUILD_DIR scripts/bench_dialog.sh [RUNS]   (BUILD_DIR built)
set -euo pipefail
source "$(dirname "$0")/on_testbed.sh"
cd "$(dirname "$0")/.."
runs=${1:-15}

build=$QUORV_BUILD_DIR
work=$QUORV_TESTBED_DIR/bench_dialog
mkdir -p "$work"
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

# The yardstick: the same window style and font, no controls, icon, tooltip or manifest.
cat >"$work/empty_dialog.rc" <<'RC'
#include <windows.h>
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US
100 DIALOGEX 0, 0, 158, 24
STYLE WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_CENTER | DS_SETFONT | DS_3DLOOK
CAPTION "Empty dialog"
FONT 8, "MS Sans Serif", 0, 0, 0
BEGIN
END
RC
cat >"$work/empty_dialog.cpp" <<'CPP'
#include <windows.h>

INT_PTR CALLBACK EmptyDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, 0);
        return TRUE;
    }
    return message == WM_INITDIALOG;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    DialogBoxParamA(instance, MAKEINTRESOURCEA(100), nullptr, EmptyDialogProc, 0);
    return 0;
}
CPP
quietly "building the empty dialog's resources" \
  i686-w64-mingw32-windres "$work/empty_dialog.rc" -O coff -o "$work/empty_dialog.res.o"
quietly "building the empty dialog" i686-w64-mingw32-g++-posix -Os -mwindows -static -s -Wl,--gc-sections \
  "$work/empty_dialog.cpp" "$work/empty_dialog.res.o" -o "$work/empty_dialog.exe"

quorv=$(winpath "$build/quorv.exe")
empty=$(winpath "$work/empty_dialog.exe")
driver=$build/tests/e2e/quorv_driver.exe
quietly "the warm-up start of both dialogs" \
  env USER=alice scripts/wine-run "$driver" time-to-window 1 "$quorv" "$empty"
USER=alice scripts/wine-run "$driver" time-to-window "$runs" "$quorv" "$empty" | tr -d '\r' \
  >"$work/times.txt"

# median PROGRAM: the median of its times; a failed start (-1) fails the benchmark.
median() {
  program=$1 awk '$1 == ENVIRON["program"] { print $2 }' "$work/times.txt" | sort -n | awk '
    $1 < 0 { failed = 1 } { times[NR] = $1 }
    END { if (failed || NR == 0) exit 1; print times[int((NR + 1) / 2)] }'
}
empty_ms=$(median "$empty") || { echo "bench_dialog: the empty dialog did not show" >&2; exit 1; }
quorv_ms=$(median "$quorv") || { echo "bench_dialog: the key dialog did not show" >&2; exit 1; }

printf '\n%-44s %10s %8s %6s\n' "start to visible dialog" "median ms" "ratio" "goal"
printf '%-44s %10s %8s %6s\n' "empty dialog from a template" "$empty_ms" "" ""
printf '%-44s %10s %8s %6s\n' "quorv.exe key dialog" "$quorv_ms" \
  "$(echo "scale=2; $quorv_ms / $empty_ms" | bc)x" "1.2x"
printf '\nquorv.exe: %s bytes, %s runs each\n' "$(stat -c %s "$build/quorv.exe")" "$runs"
