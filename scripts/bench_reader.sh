#!/usr/bin/env bash
# The admin's reader on a write-only log of one million lines: 10,000 machines, each logged at
# 100 logons (by changing users), read by admin/Import-QuorvLog.ps1 into its 10,000 machine
# states, beside pwsh counting the same file's lines with [IO.File]::ReadLines, the fastest
# plain way PowerShell reads lines. Each runs in a pwsh process of its own, in turns; the
# table gives the median time and the largest peak working set of each, and their ratio.
# Needs the PowerShell that scripts/setup-pwsh.sh puts into build/pwsh where dotnet is;
# without it, says so and ends. Run by scripts/benchmark.sh, or alone.
# Usage: scripts/bench_reader.sh [RUNS]   (default 3)
set -euo pipefail
source "$(dirname "$0")/sandbox.sh" -- "$@"
cd "$(dirname "$0")/.."
runs=${1:-3}

pwsh=$PWD/build/pwsh/pwsh
[ -x "$pwsh" ] || { echo "reader benchmark: skipped, no PowerShell in build/pwsh (no dotnet here)"; exit 0; }
export POWERSHELL_TELEMETRY_OPTOUT=1 POWERSHELL_UPDATECHECK=Off
work=/tmp/bench_reader  # the sandbox's
mkdir -p "$work"
log=$work/write-only.txt

python3 - "$log" <<'PY'
import sys
with open(sys.argv[1], "w", newline="\r\n", encoding="cp1252") as log:
    for logon in range(100):
        for i in range(10000):
            mac = "02:00:5E:00:%02X:%02X" % (i >> 8, i & 255)
            ip = "10.1.%d.%d" % (i >> 8, i & 255)
            log.write(f"BBBBB-BBBBB-BBBBB-BBBBB-BBBBB * {mac} {ip:<16}user{logon}@PC{i}\n")
PY

# measure NAME COMMAND: runs COMMAND (PowerShell) in a new pwsh; prints "ms peak_bytes count".
measure() {
  "$pwsh" -NoProfile -NonInteractive -Command "
    \$path = '$log'
    \$count = 0
    \$time = Measure-Command { $2 }
    '{0:F0} {1} {2}' -f \$time.TotalMilliseconds, (Get-Process -Id \$PID).PeakWorkingSet64, \$count"
}
count_lines='foreach ($line in [System.IO.File]::ReadLines($path)) { $count++ }'
# The log is far over 16 MiB, as a write-only log of a year is: its size warning is left out.
read_log="\$count = (& '$PWD/admin/Import-QuorvLog.ps1' -Path \$path -CodePage 1252 -WarningAction SilentlyContinue | Measure-Object).Count"

lines=() states=()
for _ in $(seq "$runs"); do
  lines+=("$(measure lines "$count_lines")")
  states+=("$(measure reader "$read_log")")
done
summary() {  # median ms, largest peak, count of the runs given
  printf '%s\n' "$@" | sort -n | awk '{ ms[NR] = $1; if ($2 > peak) peak = $2; count = $3 }
    END { printf "%d %d %d\n", ms[int((NR + 1) / 2)], peak, count }'
}
read -r lines_ms lines_peak lines_count < <(summary "${lines[@]}")
read -r reader_ms reader_peak reader_count < <(summary "${states[@]}")
[ "$lines_count" = 1000000 ] && [ "$reader_count" = 10000 ] ||
  { echo "reader benchmark: counted $lines_count lines and $reader_count machine states" >&2; exit 1; }

printf '\n%-60s %10s %8s %14s\n' "write-only log, 1,000,000 lines ($(stat -c %s "$log") bytes)" "median ms" "ratio" "peak memory"
printf '%-60s %10s %8s %11s MiB\n' "pwsh counting its lines ([IO.File]::ReadLines)" "$lines_ms" "1x" \
  "$((lines_peak >> 20))"
printf '%-60s %10s %8s %11s MiB\n' "Import-QuorvLog.ps1, 10,000 machine states" "$reader_ms" \
  "$(echo "scale=2; $reader_ms / $lines_ms" | bc)x" "$((reader_peak >> 20))"
