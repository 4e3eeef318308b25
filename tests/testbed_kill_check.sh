#!/usr/bin/env bash
# A run killed with SIGKILL leaves the host as it was, at once, with no later run to tidy
# up: its processes, network namespaces (and /run/netns), files in /tmp and /var/log/samba,
# accounts, mounts and immutable files in the build tree are what they were before. Two runs
# of the test bed are killed as whole process groups, as a terminal or CI kills a command:
# one while the SMB server of smb.share_rights is up, one while e2e.test_log_mode runs.
# Usage: tests/testbed_kill_check.sh BUILD_DIR   (as root, outside any sandbox)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "$1")
work=$build/kill-check
rm -rf "$work"
mkdir -p "$work"
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
    pid=${environ#/proc/}
    pid=${pid%/environ}
    echo "$pid $(cat "/proc/$pid/comm" 2>/dev/null)"
  done
}

# What of the host a run could change, one thing a line; a folder that is not there (such
# as /run/netns before any namespace was made) lists nothing.
snapshot() (
  set +e +o pipefail
  ip netns list | sed 's/^/network namespace /'
  find /run/netns /tmp /var/log/samba -mindepth 1 -maxdepth 1 2>/dev/null | sed 's/^/file /'
  getent passwd | cut -d: -f1 | sed 's/^/account /'
  getent group | cut -d: -f1 | sed 's/^/group /'
  findmnt -rn -o TARGET,FSTYPE | sed 's/^/mount /'
  lsattr -R -a "$build" 2>/dev/null | awk '$1 ~ /^[-a-zA-Z]+$/ && $1 ~ /i/ { print "immutable " $2 }'
  marked_processes | sed 's/^/process /'
)

# kill_during WHAT TEST READY: starts the test bed with ctest's TEST in a session of its own,
# SIGKILLs its process group once READY (a shell condition on the run's processes, "PID
# COMMAND" lines in $run) holds, and compares the host with its state before.
kill_during() {
  local what=$1 test=$2 ready=$3 group run deadline
  snapshot | sort >"$work/before"
  env "$mark" setsid scripts/testbed.sh "$build" ctest --test-dir "$build" -R "^$test\$" \
    >"$work/$test.log" 2>&1 &
  group=$!
  deadline=$((SECONDS + 240))
  until run=$(marked_processes) && eval "$ready"; do
    kill -0 "$group" 2>/dev/null || { cat "$work/$test.log" >&2; fail "$test ended before $what"; }
    [ "$SECONDS" -lt "$deadline" ] || fail "no $what within 240 s"
    sleep 0.1
  done
  echo "kill check: killing $(wc -l <<<"$run") processes of the run: $(cut -d" " -f2 <<<"$run" | sort | uniq -c | tr -s " \n" " ")"
  kill -9 -- "-$group"
  wait "$group" 2>/dev/null || true
  deadline=$((SECONDS + 10))
  until snapshot | sort | cmp -s - "$work/before"; do
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.2
  done
  if ! snapshot | sort | diff "$work/before" - >"$work/diff"; then
    sed 's/^/kill check: after the kill: /' "$work/diff" >&2
    fail "the run killed while $what changed the host"
  fi
  echo "kill check: killed while $what: the host is as it was, after $((SECONDS - deadline + 10)) s"
}

kill_during "its SMB server was up" smb.share_rights 'grep -q " smbd$" <<<"$run"'
# A Wine server, and a test's scratch in the run's /tmp, seen through one of its processes.
kill_during "log mode's end-to-end tests ran" e2e.test_log_mode \
  'grep -q " wineserver" <<<"$run" &&
   [ -n "$(find /proc/${run%% *}/root/tmp/quorv-testbed -mindepth 1 -maxdepth 1 -name "tmp*" 2>/dev/null)" ]'
rm -rf "$work"
