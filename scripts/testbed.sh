#!/usr/bin/env bash
# Runs a command inside a controlled Windows test machine: a Wine prefix in the build tree,
# a fixed computer name, a headless X display, and two network namespaces whose adapters
# and IPv4 addresses the tests know:
#   office:   two Ethernet adapters 02:00:5E:10:00:01 (192.0.2.10/24) and
#             02:00:5E:10:00:02 (198.51.100.7/24), plus loopback;
#   loopback: loopback only (127.0.0.1 and 127.100.200.250);
#   crowded:  24 Ethernet adapters 02:00:5E:20:00:01 to :18 (203.0.113.1 to .24), more
#             than a 10,240-byte adapter list holds;
#   private:  one Ethernet adapter 02:00:5E:30:00:01 (10.20.30.40/8), plus loopback.
# Only documentation, loopback and that one private address are used; no packet is sent.
# Usage: scripts/testbed.sh BUILD_DIR COMMAND [ARG...]
set -euo pipefail

build_dir=$(realpath "$1")
shift
here=$(cd "$(dirname "$0")" && pwd)
source "$here/leftovers.sh"
source "$here/xvfb.sh"

# One test machine per build tree at a time: runs share the prefix and its wineserver.
mkdir -p "$build_dir"
lock=$build_dir/testbed.lock
exec 9>"$lock"
if ! flock -n 9; then
  holders=""
  for pid in $(exec 9>&-; find /proc/[0-9]*/fd -lname "$lock" 2>/dev/null | cut -d/ -f3 | sort -un); do
    [ "$pid" = $$ ] || holders+=" $pid ($(cat "/proc/$pid/comm" 2>/dev/null))"
  done
  echo "testbed: waiting for another run of the test bed on $build_dir to end: it holds" \
    "$lock (open in:${holders:- no process seen})" >&2
  flock 9
fi

# What the run makes is recorded (scripts/leftovers.sh); its names carry the run's token,
# so the namespaces of two runs at once, of one tree or two, never share a name.
records_open testbed
sweep
export QUORV_NETNS_OFFICE="quorv-office-$run_token"
export QUORV_NETNS_LOOPBACK="quorv-loopback-$run_token"
export QUORV_NETNS_CROWDED="quorv-crowded-$run_token"
export QUORV_NETNS_PRIVATE="quorv-private-$run_token"
sink="quorv-sink-$run_token"
export QUORV_HOSTNAME="QUORV-PC"
export QUORV_TESTBED_DIR="$build_dir/testbed"
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The one UTF-8 locale installed: text beyond ASCII in command lines, environment variables
# and file names then reaches Windows programs in code page 1252, as on an English Windows.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
xvfb_pid=""

# What a test killed by its time-out made (an SMB server) is removed at the run's end.
cleanup() {
  "$here/wine-run" --stop || true
  release
  sweep
}
trap cleanup EXIT
# Tests make files immutable (chattr +i); one that a killed test left would stop
# `rm -rf build`.
record immutable "$QUORV_TESTBED_DIR"

# An Ethernet adapter in namespace $1: a veth whose peer lives in the sink namespace, so
# the peer does not show up as a second adapter.
peers=0
add_adapter() {
  local ns=$1 name=$2 mac=$3 address=$4
  peers=$((peers + 1))
  ip -n "$ns" link add "$name" type veth peer name "peer$peers" netns "$sink"
  ip -n "$ns" link set "$name" address "$mac" up
  ip -n "$ns" addr add "$address" dev "$name"
}

make_networks() {
  ip netns add "$sink"
  ip netns add "$QUORV_NETNS_OFFICE"
  ip -n "$QUORV_NETNS_OFFICE" link set lo up
  add_adapter "$QUORV_NETNS_OFFICE" eth0 02:00:5e:10:00:01 192.0.2.10/24
  add_adapter "$QUORV_NETNS_OFFICE" eth1 02:00:5e:10:00:02 198.51.100.7/24
  ip netns add "$QUORV_NETNS_LOOPBACK"
  ip -n "$QUORV_NETNS_LOOPBACK" link set lo up
  ip -n "$QUORV_NETNS_LOOPBACK" addr add 127.100.200.250/8 dev lo
  ip netns add "$QUORV_NETNS_CROWDED"
  ip -n "$QUORV_NETNS_CROWDED" link set lo up
  local i
  for i in $(seq 1 24); do
    add_adapter "$QUORV_NETNS_CROWDED" "eth$i" "$(printf '02:00:5e:20:00:%02x' "$i")" "203.0.113.$i/24"
  done
  ip netns add "$QUORV_NETNS_PRIVATE"
  ip -n "$QUORV_NETNS_PRIVATE" link set lo up
  add_adapter "$QUORV_NETNS_PRIVATE" eth0 02:00:5e:30:00:01 10.20.30.40/8
}

for ns in "$sink" "$QUORV_NETNS_OFFICE" "$QUORV_NETNS_LOOPBACK" "$QUORV_NETNS_CROWDED" \
    "$QUORV_NETNS_PRIVATE"; do
  record netns "$ns"
done
make_networks
# A Wine GUI process started before the server accepts connections shows no window;
# start_xvfb returns only once it does. The server must not inherit the lock: left by a
# killed run, it would keep the next one waiting.
start_xvfb 1024x768x24 9>&-
export QUORV_XVFB_PID=$xvfb_pid  # for tests/testbed_lock_check.sh
mkdir -p "$QUORV_TESTBED_DIR"
# Only this script holds the lock: a Wine process that outlives the run (a service whose
# server was killed under it) would otherwise keep the next run waiting without a word.
"$here/wine-run" --prefix 9>&-
"$@" 9>&-
