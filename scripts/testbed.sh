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
# Everything the test machine makes (namespaces, X and Wine servers, scratch files, changes
# to the Wine prefix) lives in the run's sandbox and goes with it.
source "$(dirname "$0")/sandbox.sh" -- "$@"

build_dir=$(realpath "$1")
shift
here=$(cd "$(dirname "$0")" && pwd)
source "$here/xvfb.sh"

# One test machine per build tree at a time: runs share the prefix.
mkdir -p "$build_dir"
exec 9>"$build_dir/testbed.lock"
if ! flock -n 9; then
  echo "testbed: waiting for another run of the test bed on $build_dir to end" >&2
  flock 9
fi

export QUORV_NETNS_OFFICE=quorv-office QUORV_NETNS_LOOPBACK=quorv-loopback
export QUORV_NETNS_CROWDED=quorv-crowded QUORV_NETNS_PRIVATE=quorv-private
sink=quorv-sink
export QUORV_HOSTNAME="QUORV-PC"
# Test scratch (files that tests make immutable too) lives in the sandbox's /tmp.
export QUORV_TESTBED_DIR=/tmp/quorv-testbed
export QUORV_BUILD_DIR=$build_dir
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko prompts, and no menu entries or file associations: the prefix is no desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
# The one UTF-8 locale installed: text beyond ASCII in command lines, environment variables
# and file names then reaches Windows programs in code page 1252, as on an English Windows.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

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

make_networks
# A Wine GUI process started before the server accepts connections shows no window;
# start_xvfb returns only once it does.
start_xvfb 1024x768x24
mkdir -p "$QUORV_TESTBED_DIR"
"$here/wine-run" --prefix
# What the tests change in the prefix (registry values) goes to an overlay in the sandbox,
# so the next run starts from the prefix as it was made.
mkdir /tmp/.prefix-changes /tmp/.prefix-work
mount -t overlay overlay \
  -o "lowerdir=$WINEPREFIX,upperdir=/tmp/.prefix-changes,workdir=/tmp/.prefix-work" "$WINEPREFIX"
"$@"
