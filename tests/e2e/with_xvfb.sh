#!/usr/bin/env bash
# Runs one Windows program under Wine inside a private headless X server and returns its
# result. Fails, saying why, when the Wine prefix, the X server or the program time out.
# Leaves nothing running: the prefix's wineserver is waited for, then Xvfb is stopped.
# Usage: with_xvfb.sh <seconds allowed for the program> <program.exe> [arguments...]
set -uo pipefail

allowed=$1
shift
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
# A prefix of the end-to-end tests' own (CTest passes one per build tree): ending its
# wineserver can never disturb another Wine run.
: "${WINEPREFIX:=$repo/build/e2e-wineprefix}"
export WINEPREFIX
# shellcheck source=../../scripts/wine-prefix.sh
. "$repo/scripts/wine-prefix.sh"

work=$(mktemp -d)
xvfb_pid=""

stop_wine() {
  # wineserver stays a few seconds after its last client; wait for it, within reason.
  if ! timeout 60 wineserver -w 2>/dev/null; then
    echo "with_xvfb: wineserver did not end in 60 s; killing it" >&2
    wineserver -k 2>/dev/null
    timeout 10 wineserver -w 2>/dev/null
  fi
}

cleanup() {
  stop_wine
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and reports it, so parallel runs never collide.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 300); do
  [ -s "$work/display" ] && break
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "with_xvfb: FAIL: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "with_xvfb: FAIL: timed out waiting for Xvfb to report its display" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

# The first use of a prefix builds it; that may take minutes on a busy machine.
timeout 300 bash -c ". '$repo/scripts/wine-prefix.sh' && tessivo_wine_prefix_ready"
status=$?
if [ $status -ne 0 ]; then
  echo "with_xvfb: FAIL: preparing the Wine prefix $WINEPREFIX failed or timed out (status $status)" >&2
  exit 1
fi

timeout --kill-after=15 "$allowed" wine "$@"
status=$?
if [ $status -eq 124 ] || [ $status -eq 137 ]; then
  echo "with_xvfb: FAIL: $(basename "$1") did not finish within $allowed s" >&2
  # Whatever it started is still running in this prefix; end it now rather than wait.
  wineserver -k 2>/dev/null
  exit 1
fi
exit $status
