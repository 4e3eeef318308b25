# Sourced by a script that must run on the Wine test machine: outside it, sets up what is
# missing, then in a sandbox (scripts/sandbox.sh) builds the Windows tree and runs the
# calling script again inside the test bed.
source scripts/common.sh
if [ -z "${QUORV_TESTBED_DIR:-}" ]; then
  if [ -z "${QUORV_SANDBOX:-}" ]; then
    bash scripts/setup.sh
    exec scripts/sandbox.sh "$0" "$@"
  fi
  build . windows
  exec scripts/testbed.sh build/windows "$0" "$@"
fi
