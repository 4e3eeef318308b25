#!/usr/bin/env bash
# The one way into a sandbox that the kernel removes whole when it ends, however it ends: new
# PID, mount, IPC and network namespaces, and the root file system under an overlay whose
# upper layer is a tmpfs of the sandbox, so every write outside this tree vanishes with it,
# wherever it goes (home folder, /etc, /var, /run) and whoever makes it. /tmp and /dev/shm are
# fresh tmpfs, as after a boot; /proc, /dev and /sys are the kernel's. What reaches the host:
# this tree (build/ is written through), a folder given with --through, and with
# --host-display the X sockets and authority file. The sandbox's layers are seen inside at
# build/.sandbox, where the overlay names them. The top process ends the sandbox when it gets
# SIGTERM, SIGINT or SIGHUP, and its death does too: util-linux's unshare blocks those signals
# and keeps a parent-death signal for its child only, so it gets one of its own (setpriv).
#   --host-network  keeps the host's network namespace (for what installs packages)
#   --host-display  keeps it too, with the X sockets and XAUTHORITY, for the user's display
#   --through DIR   writes DIR through to the host (a root that stays, as build/ does)
# A script that runs in a sandbox says so in its first lines, before it changes folder:
#   source "$(dirname "$0")/sandbox.sh" [OPTION...] -- "$@"
# Outside a sandbox that sets up what is missing (scripts/setup.sh), runs the script again
# with its arguments in a new sandbox and exits with its status; inside one it returns.
# Usage as a command, always in a new sandbox: scripts/sandbox.sh [OPTION...] COMMAND [ARG...]
set -euo pipefail
tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$tree/scripts/common.sh"

# The first process inside, PID 1 of the sandbox: makes the new root, pivots into it, then
# runs the command as its child and ends with its status (and, as PID 1, everything with it).
# A signal that would stop the command (Ctrl-C) ends this process too; as PID 1 it would
# otherwise ignore such signals.
# shellcheck disable=SC2016
sandbox_init='
set -e
layers=$1/build/.sandbox binds=("$1")
shift
while [ "$1" != -- ]; do binds+=("$1"); shift; done
shift
mkdir -p "$layers"
mount -t tmpfs -o mode=0755 quorv-layers "$layers"
mkdir "$layers/upper" "$layers/work" "$layers/root"
root=$layers/root
mount -t overlay quorv-sandbox -o "lowerdir=/,upperdir=$layers/upper,workdir=$layers/work" "$root"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --rbind /sys "$root/sys"
mount -t tmpfs tmpfs "$root/dev/shm"
mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
for path in "${binds[@]}" "$layers"; do
  if [ -d "$path" ]; then mkdir -p "$root$path"; else mkdir -p "${root}${path%/*}"; touch "$root$path"; fi
  mount --bind "$path" "$root$path"
done
dir=$PWD
mkdir "$root/.oldroot"
cd "$root"
pivot_root . .oldroot
umount -l /.oldroot
rmdir /.oldroot
cd "$dir"
ip link set lo up 2>/dev/null || true
trap "exit 130" INT
trap "exit 143" TERM
trap "exit 129" HUP
"$@" <&0 &
wait $!
'

# sandbox_run [OPTION...] COMMAND [ARG...]: runs COMMAND in a new sandbox and returns its status.
sandbox_run() {
  local namespaces=(--pid --fork --kill-child --mount --propagation private --ipc --net) binds=()
  while :; do
    case "${1:-}" in
      --host-network) unset 'namespaces[-1]' ;;
      --host-display)
        unset 'namespaces[-1]'
        [ ! -d /tmp/.X11-unix ] || binds+=(/tmp/.X11-unix)
        [ ! -f "${XAUTHORITY:-}" ] || binds+=("$(realpath "$XAUTHORITY")") ;;
      --through) binds+=("$(realpath "$2")"); shift ;;
      *) break ;;
    esac
    shift
  done
  [ "$(id -u)" = 0 ] || { echo "sandbox: run as root (namespaces and mounts)" >&2; return 1; }
  setpriv --pdeathsig KILL unshare "${namespaces[@]}" \
    bash -c "$sandbox_init" quorv-sandbox "$tree" "${binds[@]}" -- "$@" <&0 &
  local child=$! status=0
  trap 'exit 143' TERM
  trap 'exit 130' INT
  trap 'exit 129' HUP
  wait "$child" || status=$?
  trap - TERM INT HUP
  return "$status"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  sandbox_run "$@"
  exit
fi
if ! in_sandbox; then
  options=()
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  bash "$tree/scripts/setup.sh"
  sandbox_run "${options[@]}" "$(realpath "$0")" "$@"
  exit
fi
