#!/usr/bin/env bash
# Sets up whatever is missing, builds quorv.exe and runs it under Wine: once in log mode on
# build/inventory.txt (printed afterwards), then as the key dialog. With a display the
# dialog stays until it is closed; without one it is shown on a headless X server inside a
# Wine desktop, saved as build/dialog.png and closed again. All but the set-up runs in a
# sandbox (scripts/sandbox.sh), which ends every process it started (Wine's and X servers)
# and keeps every file they write outside build/ off the host.
set -euo pipefail
# The user's display is reached through the host's network and X sockets.
display=()
[ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1 || display=(--host-display)
source "$(dirname "$0")/sandbox.sh" "${display[@]}" -- "$@"
cd "$(dirname "$0")/.."
build . windows --target quorv quorv_driver

# No Mono or Gecko prompts, and no menu entries or file associations: the prefix is no desktop.
export WINEPREFIX="$PWD/build/run-prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
exe=build/windows/quorv.exe
echo "run: $exe ($(stat -c %s "$exe") bytes)"

source scripts/xvfb.sh

# Wine needs a display for the dialog, and its prefix set-up runs smoother with one too.
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  headless=1
  start_xvfb 800x600x24
else
  headless=0
fi

make_prefix

# Without a display the dialog is shown in a 640x480 Wine desktop (Wine 10 ignores a smaller
# one), made the prefix's default desktop before the session starts: Wine 10 takes a desktop
# opened within a session that knows the X screen (`explorer /desktop=`) for a second
# monitor and centres the dialog on the screen, off the desktop.
explorer='HKCU\Software\Wine\Explorer'
if [ "$headless" = 1 ]; then
  quietly "making quorv the default Wine desktop" wine reg add "$explorer" /v Desktop /d quorv /f
  quietly "sizing the Wine desktop" wine reg add "$explorer\\Desktops" /v quorv /d 640x480 /f
else
  wine reg delete "$explorer" /v Desktop /f >/dev/null 2>&1 || true
fi
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true

echo "run: a new Wine prefix holds an all-zero product id (DigitalProductId) and no ProductKey;"
echo "run: an all-zero id decodes to BBBBB-BBBBB-BBBBB-BBBBB-BBBBB, the key shown below"
log=build/inventory.txt
size_before=$(stat -c %s "$log" 2>/dev/null || echo 0)
wine "$exe" "$log" || { echo "run: log mode ended with exit code $?" >&2; exit 1; }
if [ "$(stat -c %s "$log" 2>/dev/null || echo 0)" -gt "$size_before" ]; then
  echo "run: log mode appended a line to $log:"
elif [ -f "$log" ]; then
  echo "run: log mode appended nothing: $log already holds this machine's line"
else
  echo "run: log mode wrote no $log" >&2
  exit 1
fi
cat "$log"

if [ "$headless" = 0 ]; then
  echo "run: showing the key dialog; close it to end"
  wine "$exe"
  exit 0
fi

# Takes a picture of the middle 400x200 pixels of the Wine desktop, where the dialog is
# centred, as build/dialog.png. True once it shows more than the empty desktop and two
# pictures in a row are the same: the first window of a prefix takes seconds to appear and
# to be drawn.
drawn() {
  import -window root -crop "400x200+$((X + (WIDTH - 400) / 2))+$((Y + (HEIGHT - 200) / 2))" \
    +repage build/dialog.png || { echo "run: no picture of display $DISPLAY (import)" >&2; exit 1; }
  local colours
  colours=$(convert build/dialog.png -format %k info:)
  if [ "$colours" -gt 4 ] && [ -f build/dialog.previous.png ] &&
      cmp -s <(convert build/dialog.png rgb:-) <(convert build/dialog.previous.png rgb:-); then
    return 0
  fi
  mv build/dialog.png build/dialog.previous.png
  return 1
}

# The test driver starts quorv.exe in the desktop and describes the dialog once it shows.
# Wine draws the first window of its desktop inactive; a click on the title bar, after the
# driver handed the foreground to the desktop, shows it as a user sees it.
report=build/dialog-session.txt
rm -f "$report" build/dialog.png build/dialog.previous.png
winpath() { printf 'Z:%s' "$(realpath -m "$1" | tr / '\\')"; }
QUORV_COMMAND_LINE="\"$(winpath "$exe")\"" wine build/windows/tests/e2e/quorv_driver.exe \
  session "$(winpath "$report")" >build/dialog-driver.txt 2>&1 &
driver=$!
deadline=$((SECONDS + 60))
# too_late WHAT: fails the run once the dialog had its minute, or at once when the driver
# could not start quorv.exe or has ended.
too_late() {
  if grep -qs '^error=' "$report"; then
    echo "run: the test driver could not start quorv.exe: $(sed -n 's/^error=//p' "$report")" >&2
    exit 1
  elif ! kill -0 "$driver" 2>/dev/null; then
    echo "run: the dialog session ended before the key dialog was $1:" \
      "$(cat "$report" build/dialog-driver.txt 2>/dev/null | tr '\r\n' '  ')" >&2
    exit 1
  elif [ "$SECONDS" -ge "$deadline" ] || grep -qs '^dialog=none' "$report"; then
    echo "run: the key dialog was not $1 within 60 s; no picture saved" >&2
    exit 1
  fi
  sleep 0.2
}
until grep -qs '^caption=' "$report"; do too_late shown; done
# The Wine desktop's place on the X screen (X, Y, WIDTH, HEIGHT), as the dialog test measures it.
desktop=$(xdotool search --limit 1 --name "^quorv - Wine desktop") ||
  { echo "run: no window \"quorv - Wine desktop\" on display $DISPLAY (xdotool search)" >&2; exit 1; }
geometry=$(xdotool getwindowgeometry --shell "$desktop") ||
  { echo "run: no geometry of the Wine desktop window $desktop (xdotool)" >&2; exit 1; }
eval "$(grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9]+$' <<<"$geometry")"
IFS=, read -r left top _ < <(sed -n 's/^window=//p' "$report")
xdotool mousemove $((X + left + 40)) $((Y + top + 10)) click 1
until drawn; do too_late drawn; done
rm -f build/dialog.previous.png
echo "run: the key dialog, as shown, is in build/dialog.png; closing it"
xdotool key --window "$desktop" Escape
