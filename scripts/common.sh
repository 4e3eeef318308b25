# Sourced by the scripts: steps whose output is kept aside unless they fail. A failing step
# shows the end of its output and says what failed, so no script ends without a word.

# Inside a sandbox of scripts/sandbox.sh the root file system is the sandbox's overlay, which
# no host has (an environment variable would leak into a host shell); the test machine of
# scripts/testbed.sh is such a sandbox with its office network made.
in_sandbox() { [ "$(findmnt -n -o SOURCE /)" = quorv-sandbox ]; }
on_testbed() { in_sandbox && [ -n "${QUORV_NETNS_OFFICE:-}" ] && [ -e "/run/netns/$QUORV_NETNS_OFFICE" ]; }

# quietly WHAT COMMAND...: runs COMMAND with its output in a file (a pipe would be held open
# by a wineserver that COMMAND starts); on failure shows its end, names WHAT and exits.
quietly() {
  local what=$1 output status=0
  shift
  output=$(mktemp)
  ("$@") </dev/null >"$output" 2>&1 || status=$?
  if [ "$status" != 0 ]; then
    tail -n 30 "$output" >&2
    echo "${0##*/}: $what failed (exit $status)" >&2
  fi
  rm -f "$output"
  [ "$status" = 0 ] || exit 1
}

# make_prefix [WRAPPER...]: creates a missing Wine prefix $WINEPREFIX (again, where a killed
# run left it unfinished), running wineboot through WRAPPER, and gives it the Marlett font,
# whose glyph is the dialog's close box (without it Wine draws the letter "r").
make_prefix() {
  if [ -f "$WINEPREFIX.creating" ]; then
    echo "${0##*/}: removing the Wine prefix $WINEPREFIX that a killed run left unfinished"
    rm -rf "$WINEPREFIX"
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "${0##*/}: creating the Wine prefix $WINEPREFIX"
    touch "$WINEPREFIX.creating"
    quietly "creating the Wine prefix $WINEPREFIX (wineboot -i)" "$@" wineboot -i
    rm "$WINEPREFIX.creating"
  fi
  install -D -m 644 /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/marlett.ttf"
}

# build TREE PRESET [BUILD_ARG...]: configures and builds a preset of the tree at TREE. The
# output goes to TREE/build/PRESET.log, shown only when the build fails.
build() {
  local tree=$1 preset=$2 log
  shift 2
  mkdir -p "$tree/build"
  log=$(realpath "$tree/build")/$preset.log
  echo "build: $preset in $tree"
  if ! (cd "$tree" && cmake --preset "$preset" && cmake --build --preset "$preset" -j"$(nproc)" "$@") \
      >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "build: $preset in $tree failed (whole log: $log)" >&2
    exit 1
  fi
}

# release_identity: exports what names and dates the release zip (cmake/release_zip.sh):
# QUORV_RELEASE_NAME, the commit's hash cut to 12 digits (a fixed length, so every clone names
# it alike) with -dirty when tracked files differ from the commit, and SOURCE_DATE_EPOCH, the
# commit's time.
release_identity() {
  local dirty=
  git rev-parse --verify -q HEAD >/dev/null ||
    { echo "${0##*/}: the release zip is named after a commit: run it in a git checkout" >&2; exit 1; }
  git update-index -q --refresh >/dev/null || true
  git diff-index --quiet HEAD -- || dirty=-dirty
  QUORV_RELEASE_NAME=$(git rev-parse --short=12 HEAD)$dirty
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct HEAD)
  export QUORV_RELEASE_NAME SOURCE_DATE_EPOCH
}
