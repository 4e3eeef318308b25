#!/usr/bin/env bash
# Runs a command beside a real SMB server that enforces NT ACLs itself: smbd in a network
# namespace of its own, listening on 127.0.0.1:445 there, standalone, with two shares:
# "inventory", whose ACLs smbd stores and checks (acl_xattr) instead of mapping them to Unix
# permissions, and "mapped", with Samba's default of mapping them onto POSIX ACLs. The
# server's configuration, state and shares live in a folder under /tmp: smbd works in them
# as the plain user too, who could not reach a build folder in a clone under /root. Its log
# is kept in LOG_DIR. The command runs in the same namespace and finds the server through
# these variables:
#   QUORV_SMB_CONF            the server's configuration, for the client tools
#   QUORV_SMB_ADMIN           a local admin, who acts as root on the share
#   QUORV_SMB_USER            a plain user
#   QUORV_SMB_USER_SID        the plain user's SID
#   QUORV_SMB_PASSWORD        the password of both
# It runs in a sandbox (scripts/sandbox.sh; the test bed's, when started there): the
# server, its namespace, folder and accounts end with it and never reach the host.
# Usage: tests/smb/smb_server.sh LOG_DIR COMMAND [ARG...]
set -euo pipefail
source "$(dirname "$0")/../../scripts/sandbox.sh" -- "$@"

log_dir=$(realpath -m "$1")
shift
admin=quorvadmin
user=quorvuser
password=Quorv-test-7
ns=quorv-smb
work=/tmp/quorv-smb

keep_log() { cp "$work/log/smbd.log" "$log_dir/" 2>/dev/null || true; }
fail() {
  keep_log
  echo "smb_server: $*" >&2
  exit 1
}

# An earlier server of this sandbox (a test run twice) goes first.
if [ -e "/run/netns/$ns" ]; then
  kill $(ip netns pids "$ns") 2>/dev/null || true
  ip netns del "$ns"
fi
rm -rf "$work"
mkdir -p "$log_dir"
mkdir -m 0755 "$work"
conf=$work/smb.conf
share=$work/share
mkdir -p "$work"/{private,lock,state,cache,run,ncalrpc,log} "$share" "$work/mapped"
# The share's ACLs decide who may do what; the Unix mode must let every user through.
chmod 0777 "$share" "$work/mapped"

cat >"$conf" <<CONF
[global]
  server role = standalone server
  smb ports = 445
  interfaces = 127.0.0.1
  bind interfaces only = yes
  disable netbios = yes
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  private dir = $work/private
  lock directory = $work/lock
  state directory = $work/state
  cache directory = $work/cache
  pid directory = $work/run
  ncalrpc dir = $work/ncalrpc
  log file = $work/log/smbd.log
  passdb backend = tdbsam:$work/private/passdb.tdb

[inventory]
  path = $share
  read only = no
  vfs objects = acl_xattr
  acl_xattr:ignore system acls = yes
  admin users = $admin

[mapped]
  path = $work/mapped
  read only = no
  admin users = $admin
CONF

for name in "$admin" "$user"; do
  getent passwd "$name" >/dev/null || useradd -M -s /usr/sbin/nologin "$name" ||
    fail "useradd could not add the account $name"
  printf '%s\n%s\n' "$password" "$password" | smbpasswd -c "$conf" -s -a "$name" >/dev/null
done
setpriv --reuid="$user" --regid="$user" --clear-groups test -w "$share" ||
  fail "the user $user cannot write in $share"
user_sid=$(pdbedit -s "$conf" -L -v "$user" | sed -n 's/^User SID: *//p')
[ -n "$user_sid" ] || fail "pdbedit gave no SID for $user"

ip netns add "$ns"
ip -n "$ns" link set lo up
ip netns exec "$ns" smbd -s "$conf" -D
for _ in $(seq 100); do
  ip netns exec "$ns" ss -Hltn 'sport = :445' | grep -q . && break
  sleep 0.1
done
ip netns exec "$ns" ss -Hltn 'sport = :445' | grep -q . ||
  fail "smbd is not listening on 127.0.0.1:445 after 10 s; its log is kept as $log_dir/smbd.log"

status=0
ip netns exec "$ns" env QUORV_SMB_CONF="$conf" QUORV_SMB_ADMIN="$admin" \
  QUORV_SMB_USER="$user" QUORV_SMB_USER_SID="$user_sid" QUORV_SMB_PASSWORD="$password" "$@" ||
  status=$?
keep_log
exit "$status"
