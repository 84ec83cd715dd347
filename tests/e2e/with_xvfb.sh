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

# shellcheck source=../../scripts/xvfb.sh
. "$repo/scripts/xvfb.sh"

work=$(mktemp -d)

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
  tessivo_stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT

tessivo_start_xvfb "$work" || { echo "with_xvfb: FAIL: no X server" >&2; exit 1; }

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
