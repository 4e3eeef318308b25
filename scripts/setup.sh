#!/usr/bin/env bash
# Prepares a Debian 12 or 13 machine (as root) to build quorv.exe and run it under Wine:
# packages from the release it runs on, the i386 architecture and the binfmt entry that
# hands 32-bit x86 programs to QEMU. Every step checks first, so a second run changes
# nothing and takes seconds. Prints each thing it installs or changes.
set -euo pipefail

log() { printf 'setup: %s\n' "$*"; }

[ "$(id -u)" = 0 ] || { echo "setup: run as root" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive

apt_updated=0
apt_update_once() {
  if [ "$apt_updated" = 0 ]; then
    log "apt-get update"
    apt-get update -qq || { echo "setup: apt-get update failed; check the network and the apt sources" >&2; exit 1; }
    apt_updated=1
  fi
}

ensure_i386_architecture() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture (wine32 is an i386 package)"
    dpkg --add-architecture i386
    apt_updated=0
  fi
}

# Each release gets its packages from its own archive. Debian 12's QEMU 7.2 takes ~50 s
# to start each Wine process, so there QEMU 10 comes from bookworm-backports; Debian 13
# has QEMU 10 itself. libclang-rt gives clang's libFuzzer and sanitizers (scripts/fuzz.sh).
choose_release() {
  local release name
  if [ ! -r /etc/os-release ]; then
    echo "setup: /etc/os-release is missing, so the release is unknown; this script sets up" \
      "Debian 12 (bookworm) and Debian 13 (trixie) only" >&2
    exit 1
  fi
  release=$(. /etc/os-release && echo "${ID:-}/${VERSION_CODENAME:-}")
  name=$(. /etc/os-release && echo "${PRETTY_NAME:-unknown}")
  case "$release" in
    debian/bookworm)
      BACKPORTS=bookworm-backports
      RELEASE_PACKAGES=(libclang-rt-14-dev) ;;
    debian/trixie)
      BACKPORTS=""
      RELEASE_PACKAGES=(libclang-rt-19-dev qemu-user-static) ;;
    *)
      echo "setup: $name is not a release this script knows; it sets up Debian 12" \
        "(bookworm) and Debian 13 (trixie) only" >&2
      exit 1 ;;
  esac
}

# The mirror the machine already uses: deb822 sources (cloud images) or sources.list. The
# security archive (security.debian.org, debian-security) has no backports.
debian_mirror() {
  local security='security\.debian\.org|debian-security'
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk -v skip="$security" '/^URIs:/ && $2 !~ skip {print $2; exit}' \
      /etc/apt/sources.list.d/debian.sources
  else
    awk -v skip="$security" '$1 == "deb" { for (i = 2; i <= NF; i++)
      if ($i ~ /^https?:/ && $i !~ skip) { print $i; exit } }' /etc/apt/sources.list
  fi
}

ensure_backports_source() {
  [ -n "$BACKPORTS" ] || return 0
  local list=/etc/apt/sources.list.d/$BACKPORTS.sources uri
  [ -f "$list" ] && return 0
  uri=$(debian_mirror)
  [ -n "$uri" ] || { echo "setup: no Debian mirror found in the apt sources" >&2; exit 1; }
  log "adding $BACKPORTS from $uri"
  printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
    "$uri" "$BACKPORTS" /usr/share/keyrings/debian-archive-keyring.gpg >"$list"
  apt_updated=0
}

# lld and llvm: the MinGW link with delay-loading (ld.lld, llvm-dlltool). e2fsprogs: chattr,
# which the tests use for a file nobody may change (Debian 13's minimal system lacks it).
# samba and the rest of the last line: the SMB server and clients of the log's rights test.
PACKAGES=(
  cmake make g++ clang clang-format googletest python3 lld llvm
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386 fonts-wine
  xvfb x11-utils imagemagick xdotool xclip
  iproute2 util-linux e2fsprogs icoutils git bc
  samba samba-vfs-modules smbclient python3-impacket
)

ensure_packages() {
  local missing=() p
  for p in "${PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    apt_update_once
    log "installing ${missing[*]}"
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
      { echo "setup: apt-get could not install ${missing[*]} (its messages are above)" >&2; exit 1; }
    [[ " ${missing[*]} " == *" samba "* ]] && stop_system_samba
  fi
  return 0
}

# The tests start their own smbd in a namespace of their own. Where systemd runs, installing
# samba also starts a file server for the whole network; one this set-up brought is stopped.
stop_system_samba() {
  [ -d /run/systemd/system ] || return 0
  log "stopping and disabling the system's smbd and nmbd, which installing samba started"
  systemctl disable --now smbd nmbd >/dev/null 2>&1 || true
}

ensure_qemu_10() {
  local major=0
  if command -v qemu-i386-static >/dev/null; then
    major=$(qemu-i386-static --version | sed -n 's/.*version \([0-9]*\)\..*/\1/p' | head -n1)
  fi
  [ "${major:-0}" -ge 10 ] && return 0
  if [ -z "$BACKPORTS" ]; then
    echo "setup: qemu-i386-static ${major:-0} is too old; QEMU 10 or later is needed" >&2
    exit 1
  fi
  apt_update_once
  log "installing qemu-user-static from $BACKPORTS"
  apt-get install -y -qq --no-install-recommends -t "$BACKPORTS" qemu-user-static >/dev/null ||
    { echo "setup: apt-get could not install qemu-user-static from $BACKPORTS" >&2; exit 1; }
}

# The kernel refuses 32-bit x86 code, and Debian does not register i386 on an x86_64
# host, so 32-bit ELF programs (Wine's 32-bit loader) are handed to QEMU here.
ensure_binfmt_i386() {
  local dir=/proc/sys/fs/binfmt_misc
  if [ ! -e "$dir/register" ]; then
    log "mounting binfmt_misc"
    mount -t binfmt_misc binfmt_misc "$dir" ||
      { echo "setup: cannot mount binfmt_misc at $dir; run on a machine or privileged container" >&2; exit 1; }
  fi
  if [ -e "$dir/qemu-i386" ]; then
    grep -q '^interpreter /usr/bin/qemu-i386-static$' "$dir/qemu-i386" &&
      grep -q '^flags: .*F' "$dir/qemu-i386" && grep -q '^enabled' "$dir/qemu-i386" && return 0
    log "replacing the old qemu-i386 binfmt entry"
    echo -1 >"$dir/qemu-i386"
  fi
  log "registering qemu-i386 for 32-bit x86 programs"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:OCF' \
    >"$dir/register" || { echo "setup: the kernel refused the qemu-i386 binfmt entry" >&2; exit 1; }
}

choose_release
ensure_i386_architecture
ensure_backports_source
ensure_packages
ensure_qemu_10
ensure_binfmt_i386
log "ready"
