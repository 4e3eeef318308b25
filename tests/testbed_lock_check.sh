#!/usr/bin/env bash
# Run inside scripts/testbed.sh: the test bed's X server must not hold the test bed's lock,
# or one left by a killed run keeps every later run waiting.
lock=$(dirname "$QUORV_TESTBED_DIR")/testbed.lock
for fd in /proc/"$QUORV_XVFB_PID"/fd/*; do
  if [ "$(readlink "$fd")" = "$lock" ]; then
    echo "testbed: the X server (pid $QUORV_XVFB_PID) holds $lock on descriptor ${fd##*/}" >&2
    exit 1
  fi
done
[ -n "$(ls /proc/"$QUORV_XVFB_PID"/fd)" ] || { echo "testbed: no X server seen" >&2; exit 1; }
