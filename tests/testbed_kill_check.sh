#!/usr/bin/env bash
# A run of the test bed with the SMB server inside it, both killed with SIGKILL (which skips
# their traps), leaves nothing once the next run has ended: no namespace, process, folder,
# account or immutable file; and the next run says what it removed.
# Usage: tests/testbed_kill_check.sh BUILD_DIR   (as root, outside the test bed)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/leftovers.sh
build=$(realpath "$1")
work=$build/kill-check
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "kill check: $*" >&2
  exit 1
}

# The first run lists what it made, as "KIND NAME [START]" lines, then waits to be killed.
# shellcheck disable=SC2016
scripts/testbed.sh "$build" tests/smb/smb_server.sh "$work" sh -c '
  file=$QUORV_TESTBED_DIR/kill-check.immutable
  touch "$file" && chattr +i "$file"
  {
    for ns in "$QUORV_NETNS_OFFICE" "$QUORV_NETNS_LOOPBACK" "$QUORV_NETNS_CROWDED" \
        "$QUORV_NETNS_PRIVATE" "$(ip netns identify)"; do
      echo "netns $ns"
      for pid in $(ip netns pids "$ns"); do
        start=$(cut -d" " -f22 "/proc/$pid/stat" 2>/dev/null) && echo "process $pid $start"
      done
    done
    echo "process $QUORV_XVFB_PID $(cut -d" " -f22 "/proc/$QUORV_XVFB_PID/stat")"
    echo "folder $(dirname "$QUORV_SMB_CONF")"
    echo "user $QUORV_SMB_ADMIN"
    echo "user $QUORV_SMB_USER"
    echo "immutable $file"
    echo "smb_server $PPID"
  } >"$1.part"
  mv "$1.part" "$1"
  exec sleep 300' sh "$work/made" >"$work/first.log" 2>&1 &
testbed=$!
disown "$testbed"  # no word from the shell when it is killed
for _ in $(seq 600); do
  [ ! -s "$work/made" ] && kill -0 "$testbed" 2>/dev/null || break
  sleep 0.1
done
[ -s "$work/made" ] || { cat "$work/first.log" >&2; fail "the first run did not start"; }
kill -9 "$testbed" "$(sed -n 's/^smb_server //p' "$work/made")"
smb_ns=$(grep '^netns ' "$work/made" | tail -n1 | cut -d' ' -f2)
[ -e "/run/netns/$smb_ns" ] || fail "the killed run left nothing to remove, so this shows nothing"

scripts/testbed.sh "$build" tests/smb/smb_server.sh "$work" true >"$work/second.log" 2>&1 ||
  { cat "$work/second.log" >&2; fail "the run after the killed one failed"; }
status=0
while read -r kind name start; do
  case "$kind" in
    netns) left=$(ip netns list | grep -w "^$name" || true); said=$name ;;
    process) left=$([ "$(process_start "$name")" != "$start" ] || echo "pid $name"); said="" ;;
    folder) left=$(ls -d "$name" 2>/dev/null || true); said=$name ;;
    user) left=$(getent passwd "$name" || true); said=$name ;;
    immutable) left=$(lsattr "$name" 2>/dev/null | awk '$1 ~ /i/' || true)
      said="immutable attribute" ;;
    *) continue ;;
  esac
  if [ -n "$left" ]; then
    echo "kill check: the killed run's $kind $name is still there: $left" >&2
    status=1
  elif [ -n "$said" ] && ! grep 'removed.*which a killed run' "$work/second.log" |
      grep -qF "$said"; then
    echo "kill check: the next run did not say that it removed the $kind $name" >&2
    status=1
  fi
done <"$work/made"
[ "$status" = 0 ] || { cat "$work/second.log" >&2; exit 1; }
grep -c 'which a killed run' "$work/second.log" | sed 's/^/kill check: the next run removed /;
  s/$/ things the killed run left, and said so/'
rm -f "$build/testbed/kill-check.immutable"
rm -rf "$work"
