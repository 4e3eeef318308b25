#!/usr/bin/env bash
# Prepares a Debian 12 or 13 machine (as root) to build quorv.exe and run it under Wine:
# packages from the release it runs on, the i386 architecture and the binfmt entry that
# hands 32-bit x86 programs to QEMU. Every step checks first, so a second run changes
# nothing and takes seconds. Prints each thing it installs or changes. Makes nothing outside
# the packages, those two and build/setup (apt's log, apt.log, among them). A set-up killed
# at any moment is repaired by the next one, first of all.
set -euo pipefail

log() { printf 'setup: %s\n' "$*"; }

export DEBIAN_FRONTEND=noninteractive
scratch=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/setup
apt_log=$scratch/apt.log apt_output=$scratch/apt-update.out

# apt_step COMMAND...: runs an apt or dpkg command (or another installer's) with its output in
# $apt_log; on failure shows the log's end and exits.
apt_step() {
  echo "== $*" >>"$apt_log"
  "$@" </dev/null >>"$apt_log" 2>&1 && return 0
  tail -n 30 "$apt_log" >&2
  echo "setup: '$*' failed (whole log: $apt_log)" >&2
  exit 1
}

# apt_update_lists: runs apt-get update, its output kept in apt.log and $apt_output; true when it
# fetched every index. A mirror that answered nothing ("Hit:" or "Get:" nowhere, as without a
# network, where apt-get still exits 0) ends the set-up: nothing could be installed.
apt_update_lists() {
  local status=0
  echo "== apt-get update" >>"$apt_log"
  apt-get update -q </dev/null >"$apt_output" 2>&1 || status=$?
  cat "$apt_output" >>"$apt_log"
  if ! grep -Eq '^(Hit|Get):' "$apt_output"; then
    grep -E '^(Err|[EW]):|^  ' "$apt_output" | head -n 20 >&2 || true
    echo "setup: apt-get update reached no package mirror (is the network up?); nothing can be" \
      "installed (whole log: $apt_log)" >&2
    exit 1
  fi
  [ "$status" = 0 ] && ! grep -q '^Err:' "$apt_output"
}

# A mirror in mid-sync serves an index that does not match its release file, and a proxy may
# keep that state for days: apt-get update then fails for that index alone. It is tried once
# more; if it fails again, the set-up goes on with the lists apt has, and the install that
# follows says so if a package cannot be had from them.
apt_updated=0
apt_update_once() {
  [ "$apt_updated" = 0 ] || return 0
  log "apt-get update"
  if ! apt_update_lists; then
    log "apt-get update could not fetch some indexes; trying again in 10 s"
    sleep 10
    if ! apt_update_lists; then
      grep -E '^[EW]: ' "$apt_output" >&2 || true
      log "going on with the package lists apt has (whole log: $apt_log)"
    fi
  fi
  apt_updated=1
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
  release=$(. /etc/os-release 2>/dev/null && echo "${ID:-}/${VERSION_CODENAME:-}") || true
  name=$(. /etc/os-release 2>/dev/null && echo "${PRETTY_NAME:-unknown}") ||
    name="a system without /etc/os-release"
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
  # Signed-By is written last: a list without it is one a killed set-up cut short.
  grep -qs '^Signed-By:' "$list" && return 0
  uri=$(debian_mirror)
  [ -n "$uri" ] || { echo "setup: no Debian mirror found in the apt sources" >&2; exit 1; }
  log "adding $BACKPORTS from $uri"
  printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
    "$uri" "$BACKPORTS" /usr/share/keyrings/debian-archive-keyring.gpg >"$list"
  apt_updated=0
}

# lld and llvm: the MinGW link with delay-loading (ld.lld, llvm-dlltool). e2fsprogs: chattr,
# which the tests use for a file nobody may change (Debian 13's minimal system lacks it).
# samba and the rest of its line: the SMB server and clients of the log's rights test, and
# python3-fusepy for the file system whose reads stall or count, for log mode's bounds.
# reprotest and the three after it: the check that a build is reproducible. zip, unzip and
# strip-nondeterminism: the release zip (scripts/release.sh) and its check.
PACKAGES=(
  cmake make g++ clang clang-format googletest python3 lld llvm
  reprotest diffoscope-minimal disorderfs faketime zip unzip strip-nondeterminism
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine64 wine32:i386 fonts-wine
  xvfb x11-utils imagemagick xdotool xclip
  iproute2 util-linux e2fsprogs icoutils git bc
  samba samba-vfs-modules smbclient python3-impacket python3-fusepy
)

ensure_packages() {
  local missing=() p
  for p in "${PACKAGES[@]}" "${RELEASE_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    apt_update_once
    log "installing ${missing[*]}"
    install_packages "${missing[@]}"
  fi
}

# without_services COMMAND...: runs COMMAND (a package installation) with no service started
# meanwhile (samba's would serve every interface): /usr/sbin/policy-rc.d, which every init
# system's package scripts ask, forbids it. One already there is set aside and put back
# afterwards, by this run or, when it was killed, the next one.
policy=/usr/sbin/policy-rc.d
restore_policy() {
  if grep -qs 'quorv setup.sh' "$policy"; then rm -f "$policy"; fi
  rm -f "$policy.quorv-new"
  if [ -e "$policy.quorv-saved" ]; then mv -f "$policy.quorv-saved" "$policy"; fi
}
without_services() {
  trap restore_policy EXIT
  [ ! -e "$policy" ] || mv -f "$policy" "$policy.quorv-saved"
  printf '#!/bin/sh\n# quorv setup.sh: no service starts while it installs\nexit 101\n' >"$policy.quorv-new"
  chmod 755 "$policy.quorv-new"
  mv "$policy.quorv-new" "$policy"
  "$@"
  restore_policy
}

install_packages() { without_services apt_step apt-get install -y -qq --no-install-recommends "$@"; }

# What a killed set-up left: its policy-rc.d (and the one it set aside), and a dpkg that was
# cut short while it unpacked or configured, which apt-get refuses to work with.
repair_killed_setup() {
  if grep -qs 'quorv setup.sh' "$policy" "$policy.quorv-new" || [ -e "$policy.quorv-saved" ]; then
    log "putting back $policy as it was before a set-up that was killed"
    restore_policy
  fi
  if [ -n "$(ls -A /var/lib/dpkg/updates 2>/dev/null)" ] || [ -n "$(dpkg --audit 2>/dev/null)" ]; then
    log "dpkg --configure -a: dpkg was interrupted"
    without_services apt_step dpkg --configure -a
  fi
}

# The tests start their own smbd in a namespace of their own. Where systemd runs, installing
# samba enables smbd and nmbd (not started, see without_services), and an earlier set-up killed
# at the wrong time may have left them running on every interface with Debian's default
# configuration. Such a server is stopped and disabled; one configured by hand is someone's
# and stays.
quiet_system_samba() {
  [ -d /run/systemd/system ] || return 0
  local unit output
  for unit in smbd nmbd; do
    systemctl -q is-enabled "$unit" 2>/dev/null || systemctl -q is-active "$unit" || continue
    if ! cmp -s /etc/samba/smb.conf /usr/share/samba/smb.conf; then
      log "leaving the system's $unit alone: /etc/samba/smb.conf is not Debian's default"
      continue
    fi
    log "stopping and disabling the system's $unit, which installing samba enabled with" \
      "Debian's default configuration (serving every interface)"
    output=$(systemctl disable --now "$unit" 2>&1) ||
      { echo "$output" >&2; echo "setup: could not stop and disable $unit" >&2; exit 1; }
  done
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
  install_packages -t "$BACKPORTS" qemu-user-static
}

# runs_i386_program: true when a static 32-bit x86 program runs here and returns its code.
runs_i386_program() {
  local status=0
  printf '.globl _start\n_start:\n movl $1, %%eax\n movl $42, %%ebx\n int $0x80\n' >"$scratch/exit.s"
  as --32 -o "$scratch/exit.o" "$scratch/exit.s" && ld -m elf_i386 -o "$scratch/exit" "$scratch/exit.o" ||
    { echo "setup: could not assemble a 32-bit test program (as, ld)" >&2; exit 1; }
  "$scratch/exit" 2>/dev/null || status=$?
  [ "$status" = 42 ]
}

# The kernel refuses 32-bit x86 code, and Debian does not register i386 on an x86_64
# host, so 32-bit ELF programs (Wine's 32-bit loader) are handed to QEMU here, for the whole
# host. The entry has the flag F (QEMU opened at registration, so it serves every
# mount namespace and chroot) and never C: with C the kernel would take the credentials from
# the program, so a setuid-root 32-bit program would run QEMU as root with QEMU's
# environment variables in its caller's hands. An entry with C is replaced; one without C
# that runs 32-bit programs stays.
ensure_binfmt_i386() {
  local dir=/proc/sys/fs/binfmt_misc entry
  if [ ! -e "$dir/register" ]; then
    log "mounting binfmt_misc"
    mount -t binfmt_misc binfmt_misc "$dir" ||
      { echo "setup: cannot mount binfmt_misc at $dir; run on a machine or privileged container" >&2; exit 1; }
  fi
  entry=$dir/qemu-i386
  if [ -e "$entry" ]; then
    if grep -q '^flags: .*C' "$entry"; then
      log "replacing the host-wide qemu-i386 binfmt entry ($(sed -n 's/^interpreter //p' "$entry")," \
        "$(grep '^flags' "$entry")): its flag C would run setuid 32-bit programs' QEMU as root"
    elif grep -q '^enabled' "$entry" && runs_i386_program; then
      return 0
    else
      log "replacing the host-wide qemu-i386 binfmt entry ($(sed -n 's/^interpreter //p' "$entry")," \
        "$(head -n1 "$entry")), which runs no 32-bit program"
    fi
    echo -1 >"$entry"
  fi
  log "registering qemu-i386 host-wide: every 32-bit x86 program of this machine and its" \
    "containers now runs through /usr/bin/qemu-i386-static"
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
    >"$dir/register" || { echo "setup: the kernel refused the qemu-i386 binfmt entry" >&2; exit 1; }
  runs_i386_program || { echo "setup: a 32-bit x86 program does not run even with the new" \
    "qemu-i386 entry" >&2; exit 1; }
}

main() {
  [ "$(id -u)" = 0 ] || { echo "setup: run as root" >&2; exit 1; }
  mkdir -p "$scratch"
  repair_killed_setup
  choose_release
  ensure_i386_architecture
  ensure_backports_source
  ensure_packages
  quiet_system_samba
  ensure_qemu_10
  ensure_binfmt_i386
  bash "$(dirname "${BASH_SOURCE[0]}")/setup-pwsh.sh"
  log "ready"
}

# Sourced (by the set-up's own test), it only defines its steps.
[ "${BASH_SOURCE[0]}" != "$0" ] || main
