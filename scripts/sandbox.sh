#!/usr/bin/env bash
# Runs a command in a sandbox that the kernel removes whole when the command ends, however it
# ends (SIGKILL of this script, its process group or its parent included): new PID, mount,
# network and IPC namespaces, so every process started inside ends with it, and private
# mounts over what tools write outside the build tree: a tmpfs on /tmp (Wine's server
# folders, Xvfb's locks, temporary files), an overlay on /run and a tmpfs on /run/netns (the
# network namespaces of the test machines), a tmpfs on /var/log/samba (smbd's logs), and an
# overlay on /etc whose changes (the SMB server's accounts) live in that /tmp. This tree (kept
# in place when it lies under /tmp) and the rest of the file system are the host's.
#   --host-network  keeps the host's network namespace (for what installs packages)
#   --host-display  keeps it too and shows the host's X sockets in /tmp/.X11-unix, so a
#                   program inside can open the user's display
# Scripts that must run in a sandbox start with
#   [ -n "${QUORV_SANDBOX:-}" ] || exec scripts/sandbox.sh "$0" "$@"
# Usage: scripts/sandbox.sh [--host-network|--host-display] COMMAND [ARG...]
set -euo pipefail

namespaces=(--pid --fork --kill-child --mount --propagation private --ipc --mount-proc --net)
# Host paths under /tmp that stay visible in the private /tmp: this tree when it lies there
# (a clone in /tmp), and with --host-display the X sockets and an X authority file.
keep=()
tree=$(cd "$(dirname "$0")/.." && pwd)
case "$tree" in /tmp/*) keep+=("$tree") ;; esac
case "${1:-}" in
  --host-network) unset 'namespaces[-1]'; shift ;;
  --host-display)
    unset 'namespaces[-1]'
    [ ! -d /tmp/.X11-unix ] || keep+=(/tmp/.X11-unix)
    case "${XAUTHORITY:-}" in /tmp/*) keep+=("$XAUTHORITY") ;; esac
    shift ;;
esac
[ "$(id -u)" = 0 ] || { echo "sandbox: run as root (namespaces and mounts)" >&2; exit 1; }

# The first process inside: makes the private mounts, then runs the command as its child and
# ends with its exit status. A signal that would stop the command (Ctrl-C) ends this process
# too, and with it everything inside; as PID 1 it would otherwise ignore such signals. The
# kept paths are opened before /tmp is hidden and bound back from those descriptors (mount
# must not resolve /proc/self/fd/N to the new, empty path).
# shellcheck disable=SC2016
inside='
set -e
keep=() fds=()
while [ "$1" != -- ]; do
  exec {fd}<"$1"
  keep+=("$1") fds+=("$fd")
  shift
done
shift
mount -t tmpfs -o mode=1777 tmpfs /tmp
mkdir /tmp/.sandbox /tmp/.sandbox/etc /tmp/.sandbox/run /tmp/.sandbox/work-etc /tmp/.sandbox/work-run
mount -t overlay overlay -o lowerdir=/etc,upperdir=/tmp/.sandbox/etc,workdir=/tmp/.sandbox/work-etc /etc
mount -t overlay overlay -o lowerdir=/run,upperdir=/tmp/.sandbox/run,workdir=/tmp/.sandbox/work-run /run
mkdir -p /run/netns
mount -t tmpfs tmpfs /run/netns
[ ! -d /var/log/samba ] || mount -t tmpfs tmpfs /var/log/samba
for i in "${!keep[@]}"; do
  fd=${fds[i]}
  if [ -d "/proc/self/fd/$fd" ]; then
    mkdir -p "${keep[i]}"
  else
    mkdir -p "$(dirname "${keep[i]}")"
    touch "${keep[i]}"
  fi
  mount --no-canonicalize --bind "/proc/self/fd/$fd" "${keep[i]}"
  exec {fd}<&-
done
ip link set lo up 2>/dev/null || true
trap "exit 130" INT
trap "exit 143" TERM
export QUORV_SANDBOX=1
"$@" <&0 &
wait $!
'
exec unshare "${namespaces[@]}" bash -c "$inside" sandbox "${keep[@]}" -- "$@"
