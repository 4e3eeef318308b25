# Sourced by a script that must run on the Wine test machine: outside it, sets up what is
# missing, builds the Windows tree and runs the calling script again inside the testbed.
source scripts/common.sh
if [ -z "${QUORV_TESTBED_DIR:-}" ]; then
  bash scripts/setup.sh
  build . windows
  exec scripts/testbed.sh build/windows "$0" "$@"
fi
