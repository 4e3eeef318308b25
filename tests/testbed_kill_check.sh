#!/usr/bin/env bash
# Runs of the test bed ended as a terminal or CI ends a command leave their host as it was,
# at once: no process of theirs, mount or immutable file in the build tree remains, and
# nothing on the root file system outside build/ is newer than the check's start. Each run
# is a sandbox of its own (scripts/sandbox.sh), ended by SIGKILL of its process group or
# SIGTERM to its top process alone. Their host is the check's own sandbox, whose overlay's
# upper layer only the check's processes write; other programs of the machine write to the
# layer below, so they are kept apart by construction, not by a list of places.
# Usage: tests/testbed_kill_check.sh BUILD_DIR   (as root)
set -euo pipefail
source "$(dirname "$0")/../scripts/sandbox.sh" -- "$@"
cd "$(dirname "$0")/.."
build=$(realpath "$1")
work=$build/kill-check
rm -rf "$work"
mkdir -p "$work"
touch "$work/start"
upper=$(findmnt -n -o OPTIONS / | sed -n 's/.*upperdir=\([^,]*\).*/\1/p')
[ -d "$upper" ] || { echo "kill check: no upper layer of the sandbox's root at '$upper'" >&2; exit 1; }
# Every process of a run carries this in its environment, daemons too.
mark=QUORV_KILL_CHECK=$$
trap 'echo "kill check: failed at line $LINENO" >&2' ERR

fail() {
  echo "kill check: $*" >&2
  exit 1
}

# The processes that carry the mark: "PID COMMAND", one a line.
marked_processes() {
  local environ pid
  for environ in $(grep -lzx "$mark" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${environ//[^0-9]/}
    echo "$pid $(cat "/proc/$pid/comm" 2>/dev/null)"
  done
}

# What of the host a run could change, one thing a line. A file is written, made or removed
# (ctime, which a copy-up to the upper layer sets too) since the check started.
snapshot() (
  set +e +o pipefail
  find "$upper" -mindepth 1 -cnewer "$work/start" -printf 'file /%P\n'
  findmnt -rn -o TARGET,FSTYPE | sed 's/^/mount /'
  lsattr -R -a "$build" 2>/dev/null | awk '$1 ~ /^[-a-zA-Z]+$/ && $1 ~ /i/ { print "immutable " $2 }'
  marked_processes | sed 's/^/process /'
)

# kill_during WHAT TEST READY HOW: starts the test bed with ctest's TEST in a new sandbox and
# a session of its own, ends it once READY (a shell condition on the run's processes, "PID
# COMMAND" lines in $run) holds, as HOW says (group: SIGKILL of its process group; top:
# SIGTERM to its top process alone), and compares the host with its state before.
kill_during() {
  local what=$1 test=$2 ready=$3 how=$4 top run deadline
  snapshot | sort >"$work/before"
  env "$mark" setsid scripts/sandbox.sh scripts/testbed.sh "$build" ctest --test-dir "$build" \
    -R "^$test\$" >"$work/$test.log" 2>&1 &
  top=$!
  deadline=$((SECONDS + 240))
  until run=$(marked_processes) && eval "$ready"; do
    kill -0 "$top" 2>/dev/null || { cat "$work/$test.log" >&2; fail "$test ended before $what"; }
    [ "$SECONDS" -lt "$deadline" ] || fail "no $what within 240 s"
    sleep 0.1
  done
  echo "kill check: ending $(wc -l <<<"$run") processes of the run ($how): $(cut -d" " -f2 <<<"$run" | sort | uniq -c | tr -s " \n" " ")"
  case "$how" in
    group) kill -KILL -- "-$top" ;;
    top) kill -TERM "$top" ;;
  esac
  wait "$top" 2>/dev/null || true
  deadline=$((SECONDS + 10))
  until snapshot | sort | diff "$work/before" - >"$work/diff"; do
    [ "$SECONDS" -lt "$deadline" ] ||
      { sed 's/^/kill check: after the end: /' "$work/diff" >&2; fail "the run ended ($how) while $what changed the host"; }
    sleep 0.2
  done
  echo "kill check: ended ($how) while $what: the host is as it was, after $((SECONDS - deadline + 10)) s"
}

# log_mode_running: a Wine server of the run is up, and a test's scratch is in the run's /tmp.
log_mode_running() {
  local pid
  pid=$(awk '$2 ~ /^wineserver/ {print $1; exit}' <<<"$run")
  [ -n "$pid" ] && compgen -G "/proc/$pid/root/tmp/quorv-testbed/tmp*" >/dev/null
}

kill_during "its SMB server was up" smb.share_rights 'grep -q " smbd$" <<<"$run"' group
kill_during "log mode's end-to-end tests ran" e2e.test_log_mode log_mode_running group
kill_during "log mode's end-to-end tests ran" e2e.test_log_mode log_mode_running top
rm -rf "$work"
