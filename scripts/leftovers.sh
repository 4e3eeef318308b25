# Sourced by the scripts that change the host as root. A run writes down each thing it is
# about to make (a network namespace, a process, an account, a folder, a mount, a file it
# puts in place) in a record of its own; when it ends it undoes its record (release, from
# its EXIT trap), and every run starts by undoing the records of runs that died without
# doing so, as SIGKILL makes them (sweep), saying what it removed. A run is known by its
# pid, its start time and the boot together, never by a pid or a name alone: the pid of a
# dead run may belong to another process by now.
#
# The records live in /var/lib/quorv: host-wide, so that a run in any build tree or clone
# removes what a killed run of another left; outside /tmp, which holds the runs' own folders
# and which people empty by hand; on disk rather than under /run, since an account outlives
# a reboot (a namespace or process recorded before one is simply found gone).
records_dir=/var/lib/quorv/runs
record_file=""
run_token=""
records_who=${0##*/}

# process_start PID: the process's start time in clock ticks since boot; nothing if there
# is none or it has ended (a zombie, whose parent has not collected it yet).
process_start() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }  # past the command name, which may hold blanks and parentheses
  set -- $stat
  [ "$1" = Z ] || [ "$1" = X ] || echo "${20}"
}

# new_token: 8 random hex digits after an "r", for the names of what one run makes; the
# letter keeps them apart from the pids that earlier versions put in names.
new_token() { printf 'r%s' "$(od -An -N4 -tx4 /dev/urandom | tr -d ' \n')"; }

# records_open WHO: starts this run's record and sets run_token; WHO names the script.
records_open() {
  records_who=$1
  run_token=$(new_token)
  mkdir -p "$records_dir"
  record_file=$records_dir/$1-$run_token
  record owner "$(cat /proc/sys/kernel/random/boot_id)" $$ "$(process_start $$)" "$1"
}

# record KIND ARG...: notes one thing this run is about to make (the kinds are under undo).
record() { (IFS=$'\t'; echo "$*") >>"$record_file"; }

# mounts_under PATH: the mount points at or below PATH, one a line.
mounts_under() {
  findmnt -rn -o TARGET | awk -v p="$(realpath -m "$1")" '$0 == p || index($0, p "/") == 1'
}

# remove_tree PATH: rm -rf that never crosses into a mount. A bind mount of / or /dev lies
# on the same file system as the folder, which --one-file-system alone does not see, so a
# folder with anything mounted below it is refused. Immutable files are made mutable first.
remove_tree() {
  local mounts
  mounts=$(mounts_under "$1")
  if [ -n "$mounts" ]; then
    echo "$records_who: not removing $1: mounted below it: $(echo $mounts)" >&2
    return 1
  fi
  chattr -R -f -i "$1" 2>/dev/null || true
  rm -rf --one-file-system "$1"
}

# stop_processes PID...: asks the processes to end; ends any still there after 2 s.
stop_processes() {
  [ $# -gt 0 ] || return 0
  kill "$@" 2>/dev/null || return 0
  for _ in $(seq 20); do
    kill -0 "$@" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -9 "$@" 2>/dev/null || true
}

# undo KIND ARG...: removes one recorded thing if it is still there and prints what it
# was; prints nothing when it was gone already; fails when it stays.
#   netns NAME               a network namespace and every process still in it
#   process PID START WHAT   a process, if the one with that pid is still the one started
#   wine PREFIX              the wineserver of a Wine prefix, with the programs it serves
#   user NAME                an account and its group
#   folder PATH              a folder and all it holds
#   immutable PATH           the immutable attribute that tests set on files under PATH
#   mount PATH               a mount
#   file PATH                a file holding the word quorv that the run put at PATH; the
#                            one it replaced, kept as PATH.quorv-saved, is put back
undo() {
  local kind=$1 pids files file
  shift
  case "$kind" in
    netns)
      [ -e "/run/netns/$1" ] || return 0
      pids=$(ip netns pids "$1" 2>/dev/null | tr '\n' ' ')
      stop_processes $pids
      ip netns del "$1" || return 1
      echo "the network namespace $1${pids:+ and its processes ${pids% }}" ;;
    process)
      [ "$(process_start "$1")" = "$2" ] || return 0
      stop_processes "$1"
      echo "the $3 process $1" ;;
    wine)
      WINEPREFIX=$1 wineserver -k 2>/dev/null || return 0
      echo "the wineserver of $1" ;;
    user)
      getent passwd "$1" >/dev/null || return 0
      userdel "$1" || return 1
      echo "the account $1" ;;
    folder)
      [ -e "$1" ] || return 0
      remove_tree "$1" || return 1
      echo "the folder $1" ;;
    immutable)
      files=$(lsattr -R "$1" 2>/dev/null | awk '$1 ~ /^[^\/]*i/ { sub(/^[^ ]+ /, ""); print }')
      [ -n "$files" ] || return 0
      while IFS= read -r file; do chattr -i "$file" || return 1; done <<<"$files"
      echo "the immutable attribute of $(wc -l <<<"$files") file(s) under $1" ;;
    mount)
      mountpoint -q "$1" || return 0
      umount "$1" 2>/dev/null || umount -l "$1" || return 1
      echo "the mount at $1" ;;
    file)
      if [ -e "$1.quorv-saved" ]; then
        mv -f "$1.quorv-saved" "$1" || return 1
        echo "$1 (the one there before is back)"
      elif grep -qs quorv "$1"; then
        rm -f "$1" || return 1
        echo "$1"
      fi ;;
    *) echo "$records_who: a record names an unknown kind of thing: $kind" >&2; return 1 ;;
  esac
}

# undo_record FILE [WHOSE]: undoes what a record lists, last first. With WHOSE, says what
# it removed and that WHOSE left it. Fails when something stays.
undo_record() {
  local file=$1 whose=${2:-} what status=0 fields
  while IFS=$'\t' read -r -a fields; do
    [ "${fields[0]}" != owner ] || continue
    if what=$(undo "${fields[@]}"); then
      [ -z "$what" ] || [ -z "$whose" ] || echo "$records_who: removed $what, which $whose left"
    else
      echo "$records_who: could not remove ${fields[*]}${whose:+, which $whose left}" >&2
      status=1
    fi
  done < <(tac "$file")
  return "$status"
}

# release: undoes this run's record; for the run's EXIT trap. A record that could not be
# undone whole stays for the next run.
release() {
  [ -n "$record_file" ] && [ -f "$record_file" ] || return 0
  undo_record "$record_file" && rm -f "$record_file"
  record_file=""
}

# done_with KIND ARG...: undoes one thing of this run's record before the run ends.
done_with() {
  undo "$@" >/dev/null || return 1
  grep -vxF "$(IFS=$'\t'; echo "$*")" "$record_file" >"$record_file.next" || true
  mv "$record_file.next" "$record_file"
}

# sweep: undoes the records of runs that ended without doing so (a run is over when no
# process has its pid and start time in this boot), and what earlier versions left.
sweep() {
  local file tag boot pid start who
  mkdir -p "$records_dir"
  {
    flock 8
    for file in "$records_dir"/*; do
      [ -f "$file" ] || continue
      IFS=$'\t' read -r tag boot pid start who <"$file" && [ "$tag" = owner ] || continue
      if [ "$boot" = "$(cat /proc/sys/kernel/random/boot_id)" ] &&
          [ "$(process_start "$pid")" = "$start" ]; then
        continue
      fi
      undo_record "$file" "a killed run ($who, pid $pid)" && rm -f "$file" || true
    done
    sweep_earlier_versions
  } 8>"$records_dir.lock"
}

# Earlier versions kept no records: they named their namespaces after the pid of the run
# that made them, and used two fixed accounts. Such a namespace goes once no process has
# that pid (a live run has); the accounts once no run of an earlier version can be using
# them: no process runs as them, no such namespace of the SMB server is left, and no
# smb_server.sh runs without a record.
sweep_earlier_versions() {
  local ns name what pid
  for ns in $(ip netns list 2>/dev/null |
      awk '$1 ~ /^quorv-(office|loopback|crowded|private|sink|smb)-[0-9]+$/ {print $1}'); do
    [ ! -e "/proc/${ns##*-}" ] || continue
    if what=$(undo netns "$ns") && [ -n "$what" ]; then
      echo "$records_who: removed $what, which a killed run of an earlier version left"
    fi
  done
  for name in quorvadmin quorvuser; do
    getent passwd "$name" >/dev/null || continue
    ! pgrep -U "$name" >/dev/null || continue
    ! ip netns list 2>/dev/null | grep -qE '^quorv-smb-[0-9]+( |$)' || continue
    for pid in $(pgrep -f 'smb_server\.sh' || true); do
      grep -qsP "^owner\t[^\t]*\t$pid\t" "$records_dir"/* || continue 2
    done
    userdel "$name" &&
      echo "$records_who: removed the account $name, which an earlier version left"
  done
}
