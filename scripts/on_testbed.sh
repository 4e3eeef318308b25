# Sourced by a script that must run on the Wine test machine, before it changes folder: in a
# sandbox (scripts/sandbox.sh), builds the Windows tree and runs the calling script again on
# the test bed.
source "$(dirname "$0")/sandbox.sh" -- "$@"
if ! on_testbed; then
  cd "$(dirname "$0")/.."
  build . windows
  exec scripts/testbed.sh build/windows "$0" "$@"
fi
