#!/usr/bin/env bash
# Start-up benchmarks of quorv.exe on the Wine test machine, printed as a table.
# Every figure is the median of repeated runs timed inside Wine (process start to exit),
# beside a minimal Win32 GUI program that only starts and exits; the programs take turns.
# Goals: log mode within 1.2x of the minimal program; on a 100,000-line log within 2x.
# Without goals, for the admin's guide: readable logs of 10,000 and 100,000 lines, for a
# machine already logged (its line last, so the whole log is read) and for a new one. A run
# holds the log for part of its time, so its time bounds how long the others wait for it.
# Then what runs of a machine already logged cost the others on a 100,000-line log whose last
# line is the machine's: a program trying every 5 ms to open the log to append, as another
# PC's run does, while four runs go one after another (goal: never refused); and eight runs
# at once against eight floor programs that make the same platform calls and read the log
# once sharing all (goal: no worse than before). Then the key dialog's start-up
# (scripts/bench_dialog.sh) and, where PowerShell is installed, the admin's reader on a
# write-only log of a million lines (scripts/bench_reader.sh).
# Usage: scripts/benchmark.sh [RUNS]   (default 15; QUORV_BENCH_EXE times another quorv.exe)
set -euo pipefail
source "$(dirname "$0")/on_testbed.sh"
cd "$(dirname "$0")/.."
runs=${1:-15}

build=$PWD/build/windows
work=$QUORV_TESTBED_DIR/benchmark
mkdir -p "$work"
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }

exe=$(winpath "${QUORV_BENCH_EXE:-$build/quorv.exe}")
# The test machine's own line, for the logs that already hold it.
rm -f "$work/own.txt"
quietly "log mode of quorv.exe" env USER=alice scripts/wine-run "${QUORV_BENCH_EXE:-$build/quorv.exe}" \
  "$(winpath "$work/own.txt")"
[ -s "$work/own.txt" ] || { echo "benchmark: log mode wrote no line" >&2; exit 1; }

python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
own = open(f"{work}/own.txt", "rb").read()
# count lines: distinct machines, none of them the test machine, whose own line comes last
# when with_own is set.
def make(name, count, with_own):
    with open(f"{work}/{name}", "w", newline="\r\n") as log:
        for i in range(count - with_own):
            mac = "02:00:5E:%02X:%02X:%02X" % (i >> 16, (i >> 8) & 255, i & 255)
            ip = "10.%d.%d.%d" % (i >> 16, (i >> 8) & 255, i & 255)
            log.write(f"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB * {mac} {ip:<16}user{i}@PC{i}\n")
    if with_own:
        open(f"{work}/{name}", "ab").write(own)
make("large.txt", 100000, False)
make("large_logged.txt", 100000, True)
make("10k.txt", 10000, False)
make("10k_logged.txt", 10000, True)
PY

missing=$(winpath "$work/missing.txt")
log=$(winpath "$work/log.txt")
# The programs take turns; one median per line, in this order.
mapfile -t medians < <(USER=alice scripts/wine-run "$build/tests/bench/run_timer.exe" "$runs" \
  "\"$(winpath "$build/tests/bench/minimal_gui.exe")\"" \
  "\"$exe\" \"$missing\"|-|$missing" \
  "\"$exe\" \"$log\"|$(winpath "$work/large.txt")|$log" \
  "\"$exe\" \"$log\"|$(winpath "$work/large_logged.txt")|$log" \
  "\"$exe\" \"$log\"|$(winpath "$work/10k.txt")|$log" \
  "\"$exe\" \"$log\"|$(winpath "$work/10k_logged.txt")|$log" | tr -d '\r' | sed -n 's/^median_ms=//p')
[ "${#medians[@]}" -eq 6 ] || { echo "benchmark: the timer failed" >&2; exit 1; }
minimal=${medians[0]} missing=${medians[1]} large=${medians[2]}
# The last run was on the log that holds the machine: it must have found its line.
[ "$(wc -l <"$work/log.txt")" -eq 10000 ] || { echo "benchmark: a logged machine was logged again" >&2; exit 1; }

printf '\n%-44s %10s %8s %6s\n' "program" "median ms" "ratio" "goal"
row() { printf '%-44s %10s %8s %6s\n' "$1" "$2" "$(echo "scale=2; $2 / $minimal" | bc)x" "$3"; }
row "minimal Win32 GUI program" "$minimal" ""
row "log mode, new file" "$missing" "1.2x"
row "log mode, 100,000 lines, no match" "$large" "2x"
row "log mode, 100,000 lines, logged (last line)" "${medians[3]}" ""
row "log mode, 10,000 lines, no match" "${medians[4]}" ""
row "log mode, 10,000 lines, logged (last line)" "${medians[5]}" ""
printf '\nquorv.exe: %s bytes, %s runs each\n' "$(stat -c %s "${QUORV_BENCH_EXE:-$build/quorv.exe}")" "$runs"

shared=$work/shared.txt
cp "$work/large_logged.txt" "$shared"
contention=$build/tests/bench/log_contention.exe
logged_run="\"$exe\" \"$(winpath "$shared")\""
floor="\"$(winpath "$build/tests/bench/log_floor.exe")\" \"$(winpath "$shared")\""
writer=$(USER=alice scripts/wine-run "$contention" writer "$(winpath "$shared")" 4 "$logged_run" |
  tr -d '\r' | tail -1)
crowd=$(USER=alice scripts/wine-run "$contention" crowd 8 $(( runs < 9 ? 3 : runs / 3 )) "$logged_run" \
  "$floor" | tr -d '\r' | tail -1)
[ "$(wc -l <"$shared")" -eq 100000 ] || { echo "benchmark: a logged machine was logged again" >&2; exit 1; }
[[ $writer == refusals=* && $crowd == a_ms=* ]] || { echo "benchmark: log_contention failed" >&2; exit 1; }
refusals=${writer#refusals=}; refusals=${refusals%% *}
runs_ms=${crowd#a_ms=}; runs_ms=${runs_ms%% *}; floor_ms=${crowd##*b_ms=}
printf '\n%-60s %s\n' "appends refused while 4 logged runs scan 100,000 lines" \
  "$refusals, longest ${writer##*longest_ms=} ms (goal: 0)"
printf '%-60s %s\n' "8 logged runs at once / 8 floor programs at once" \
  "$runs_ms / $floor_ms ms = $(echo "scale=2; $runs_ms / $floor_ms" | bc)x"

scripts/bench_dialog.sh "$runs"
scripts/bench_reader.sh
