# Sourced by the scripts that show Wine windows: start_xvfb SCREEN starts a headless X
# server (SCREEN as in 1024x768x24), exports DISPLAY and sets xvfb_pid. Run in a sandbox
# (scripts/sandbox.sh): its X sockets are then private to the run, and the server ends
# with it. Xvfb picks a free display itself and says which once it accepts connections.
start_xvfb() {
  local screen=$1 pipe display="" log
  pipe=$(mktemp -u)
  log=$(mktemp)
  mkfifo "$pipe"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$pipe" >/dev/null 2>"$log" &
  xvfb_pid=$!
  read -r -t 30 display <"$pipe" || true
  if [ -z "$display" ]; then
    tail -n 20 "$log" >&2
    echo "xvfb: Xvfb did not start (package xvfb)" >&2
    return 1
  fi
  export DISPLAY=":$display"
}
