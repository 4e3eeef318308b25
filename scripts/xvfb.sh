# Sourced by the scripts that show Wine windows: start_xvfb SCREEN starts a headless X
# server (SCREEN as in 1024x768x24) on a display no other server holds, exports DISPLAY
# and sets xvfb_pid; the server is in the caller's record (scripts/leftovers.sh), whose
# release stops it.
# An X server also listens on an abstract socket that every process of the network
# namespace shares, whatever its /tmp, so a display picked by looking for lock files in
# /tmp can belong to another run (one in a container or another root). Xvfb picks a free
# display itself and says which once it accepts connections; the script then checks that
# the server listening there is the one it started.
start_xvfb() {
  local screen=$1 pipe display="" log
  pipe=$(mktemp -u)
  log=$(mktemp)
  mkfifo "$pipe"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$pipe" >/dev/null 2>"$log" &
  xvfb_pid=$!
  record process "$xvfb_pid" "$(process_start "$xvfb_pid")" Xvfb
  read -r -t 30 display <"$pipe" || true
  rm -f "$pipe"
  if [ -z "$display" ]; then
    tail -n 20 "$log" >&2
    rm -f "$log"
    echo "xvfb: Xvfb did not start (package xvfb)" >&2
    return 1
  fi
  rm -f "$log"
  if ! ss -xlp | grep -F "@/tmp/.X11-unix/X$display " | grep -q "pid=$xvfb_pid,"; then
    echo "xvfb: display :$display is served by another X server than the one started" >&2
    return 1
  fi
  export DISPLAY=":$display"
}
