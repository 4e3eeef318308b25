#!/usr/bin/env bash
# The one way into a sandbox that the kernel removes whole when it ends, however it ends: new
# PID, mount, IPC and network namespaces, and the root file system under an overlay whose
# upper layer is a tmpfs of the sandbox (seen inside at build/.sandbox). Only this tree, a
# folder given with --through and, with --host-display, the X sockets and authority file are
# written through. /tmp and /dev/shm are fresh tmpfs. SIGTERM, SIGINT or SIGHUP to the top
# process, or its death, ends the sandbox: util-linux's unshare blocks those signals and
# gives only its child a parent-death signal, so it gets one of its own (setpriv).
#   --host-network  keeps the host's network namespace (for what installs packages)
#   --host-display  keeps it too, with the X sockets and XAUTHORITY, for the user's display
# A script that runs in a sandbox starts with this, before it changes folder; outside one it
# sets up what is missing and runs the script again in a new sandbox, inside one it returns:
#   source "$(dirname "$0")/sandbox.sh" [OPTION...] -- "$@"
# As a command (as root) it always makes a new one: scripts/sandbox.sh [OPTION...] COMMAND [ARG...]
set -euo pipefail
tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$tree/scripts/common.sh"

# PID 1 of the sandbox: makes the new root, pivots into it, runs the command as its child and
# ends with its status, and everything inside with it.
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
mkdir "$root/.oldroot"
cd "$root"
pivot_root . .oldroot
umount -l /.oldroot
rmdir /.oldroot
cd "$OLDPWD"
ip link set lo up 2>/dev/null || true
"$@" <&0 &
wait $!
'

# sandbox_run [OPTION...] COMMAND [ARG...]: runs COMMAND in a new sandbox, ends with its status.
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
  setpriv --pdeathsig KILL unshare "${namespaces[@]}" \
    bash -c "$sandbox_init" quorv-sandbox "$tree" "${binds[@]}" -- "$@" <&0 &
  trap 'exit 143' TERM
  trap 'exit 130' INT
  trap 'exit 129' HUP
  wait $!
  exit
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  sandbox_run "$@"
elif ! in_sandbox; then
  options=()
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  bash "$tree/scripts/setup.sh"
  sandbox_run "${options[@]}" "$(realpath "$0")" "$@"
fi
