#!/usr/bin/env bash
# Start-up benchmarks of quorv.exe on the Wine test machine, printed as a table.
# Every figure is the median of repeated runs timed inside Wine (process start to exit),
# beside a minimal Win32 GUI program that only starts and exits; the programs take turns.
# Goals: log mode within 1.2x of the minimal program; on a 100,000-line log within 2x.
# Then the key dialog's start-up (scripts/bench_dialog.sh).
# Usage: scripts/benchmark.sh [RUNS]   (default 15)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}

source scripts/on_testbed.sh

build=$PWD/build/windows
work=$QUORV_TESTBED_DIR/benchmark
mkdir -p "$work"
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

python3 - "$work/large.txt" <<'PY'
import sys
# 100,000 distinct machine lines, none of them the test machine's.
with open(sys.argv[1], "w", newline="\r\n") as log:
    for i in range(100000):
        mac = "02:00:5E:%02X:%02X:%02X" % (i >> 16, (i >> 8) & 255, i & 255)
        ip = "10.%d.%d.%d" % (i >> 16, (i >> 8) & 255, i & 255)
        log.write(f"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB * {mac} {ip:<16}user{i}@PC{i}\n")
PY

exe=$(winpath "$build/quorv.exe")
missing=$(winpath "$work/missing.txt")
log=$(winpath "$work/log.txt")
# The three programs take turns; one median per line, in this order.
mapfile -t medians < <(USER=alice scripts/wine-run "$build/tests/bench/run_timer.exe" "$runs" \
  "\"$(winpath "$build/tests/bench/minimal_gui.exe")\"" \
  "\"$exe\" \"$missing\"|-|$missing" \
  "\"$exe\" \"$log\"|$(winpath "$work/large.txt")|$log" | tr -d '\r' | sed -n 's/^median_ms=//p')
[ "${#medians[@]}" -eq 3 ] || { echo "benchmark: the timer failed" >&2; exit 1; }
minimal=${medians[0]} missing=${medians[1]} large=${medians[2]}

printf '\n%-44s %10s %8s %6s\n' "program" "median ms" "ratio" "goal"
row() { printf '%-44s %10s %8s %6s\n' "$1" "$2" "$(echo "scale=2; $2 / $minimal" | bc)x" "$3"; }
row "minimal Win32 GUI program" "$minimal" ""
row "log mode, new file" "$missing" "1.2x"
row "log mode, 100,000 lines, no match" "$large" "2x"
printf '\nquorv.exe: %s bytes, %s runs each\n' "$(stat -c %s "$build/quorv.exe")" "$runs"

scripts/bench_dialog.sh "$runs"
