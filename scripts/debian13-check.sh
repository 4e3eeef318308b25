#!/usr/bin/env bash
# Runs the two README commands on a fresh Debian 13 (trixie) system: builds a minimal root
# with debootstrap (when ROOT does not hold one yet), clones the committed branch into it
# and runs the test command, then run.sh, each timed. Not part of the test command.
# Usage (as root, on Debian 12 or 13): scripts/debian13-check.sh ROOT [BRANCH]
# ROOT must lie outside every git tree and /tmp; it stays, as a build tree does, the one
# folder outside the tree written to. A root made beforehand is used as it is (a Debian 12
# one from debootstrap works the same way). It runs in a sandbox (scripts/sandbox.sh) with
# the host's network, which the packages come through. binfmt_misc is shared with the host:
# the set-up before the sandbox registers the host's qemu-i386 entry, which the set-up in
# the root finds and keeps, so both use the host's QEMU.
set -euo pipefail
root=$(realpath -m "$1")
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap >/dev/null ||
  { echo "check: could not install debootstrap (apt-get's messages are above)" >&2; exit 1; }
mkdir -p "$root"
source "$(dirname "$0")/sandbox.sh" --host-network --through "$root" -- "$@"
repo=$(cd "$(dirname "$0")/.." && pwd)
branch=${2:-$(git -C "$repo" rev-parse --abbrev-ref HEAD)}

# debootstrap removes its work folder ROOT/debootstrap when it has finished.
if [ -d "$root/debootstrap" ]; then
  echo "check: $root is a root that debootstrap did not finish;" \
    "remove it (rm -rf --one-file-system $root) and run again" >&2
  exit 1
fi
if [ ! -x "$root/usr/bin/apt-get" ]; then
  mirror=$(awk '/^URIs:/ && $2 !~ /security\.debian\.org|debian-security/ {print $2; exit}' \
    /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  mirror=${mirror:-http://deb.debian.org/debian}
  echo "check: debootstrap trixie into $root from $mirror"
  debootstrap --variant=minbase --include=build-essential,g++,cmake,ninja-build,git,python3,\
googletest,libgtest-dev,libgmock-dev,clang,libclang-rt-19-dev,iproute2,file,ca-certificates,\
procps,curl,xz-utils,util-linux,mount trixie "$root" "$mirror" >"$repo/build/debootstrap.log" 2>&1 ||
    { tail -n 20 "$repo/build/debootstrap.log"; echo "check: debootstrap failed (log: build/debootstrap.log)" >&2; exit 1; }
fi

# `ip netns exec` remounts /sys and needs the root to be a mount point of its own.
mount --bind "$root" "$root"
for fs in proc dev dev/pts sys; do
  mount --bind "/$fs" "$root/$fs"
done

rm -rf --one-file-system "$root/root/quorv"
git clone -q --branch "$branch" "$repo" "$root/root/quorv"
echo "check: $(git -C "$root/root/quorv" log -1 --format='%h %s')"
# The root becomes the sandbox's own root, as a machine's is: the kernel refuses new user
# namespaces (reprotest makes one) to a process in a chroot.
cd "$root"
pivot_root . mnt
umount -l /mnt

# in_root COMMAND...: runs a command in the tree as a new login would; each line of its
# output is prefixed with the seconds since it started.
in_root() {
  local start=$SECONDS status
  echo "check: $*"
  env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root CI=true \
    bash -c 'cd /root/quorv && "$@"' bash "$@" 2>&1 |
    while IFS= read -r line; do printf '%5d %s\n' "$((SECONDS - start))" "$line"; done
  status=${PIPESTATUS[0]}
  echo "check: '$*' ended with $status after $((SECONDS - start)) s"
  return "$status"
}
status=0
in_root bash .ci/run || status=1
in_root bash scripts/run.sh || status=1
exit "$status"
