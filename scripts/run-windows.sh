#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine (scripts/run.sh windows).
# With DISPLAY set it runs in that display until the program is closed. Without one it
# starts a private headless X server, lets the program sample for a few seconds, saves a
# screenshot to build/screenshot-windows.png, closes the program and stops the server.
# TESSIVO_BUILD_DIR overrides the build directory (default: the windows preset's build/windows).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)

bash scripts/setup.sh
build_dir=${TESSIVO_BUILD_DIR:-build/windows}
cmake --preset windows -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target tessivo
exe="$repo/$build_dir/src/win32/tessivo.exe"
[ -f "$exe" ] || { echo "run: $exe was not built" >&2; exit 1; }

# shellcheck source=wine-prefix.sh
. scripts/wine-prefix.sh

# shellcheck source=xvfb.sh
. scripts/xvfb.sh

if [ -n "${DISPLAY:-}" ]; then
  tessivo_wine_prefix_ready
  exec wine "$exe"
fi

work=$(mktemp -d)
wine_pid=""
cleanup() {
  set +e
  if [ -n "$wine_pid" ] && kill -0 "$wine_pid" 2>/dev/null; then
    kill "$wine_pid" 2>/dev/null
    wait "$wine_pid" 2>/dev/null
  fi
  if [ -n "$tessivo_xvfb_pid" ]; then
    # Let Wine's helper processes on this display end before the display goes away.
    timeout 20 wineserver -w 2>/dev/null
    tessivo_stop_xvfb
  fi
  rm -rf "$work"
}
trap cleanup EXIT

tessivo_start_xvfb "$work" || { echo "run: no X server" >&2; exit 1; }

tessivo_wine_prefix_ready
wine "$exe" &
wine_pid=$!

# Wait for the window, then long enough for many refreshes (one every 333 ms) and a chart
# with some history.
for _ in $(seq 1 600); do
  # Read the whole tree before matching: grep -q on a pipe would end xwininfo early.
  grep -q '"Tessivo"' <<<"$(xwininfo -root -tree 2>/dev/null)" && break
  kill -0 "$wine_pid" 2>/dev/null || { echo "run: the program ended early" >&2; exit 1; }
  sleep 0.1
done
sleep "${TESSIVO_RUN_SECONDS:-8}"

mkdir -p build
import -window root "$repo/build/screenshot-windows.png"
echo "$repo/build/screenshot-windows.png"

# Close it the way the user would: WM_CLOSE to its window (taskkill without /f).
wine taskkill /im tessivo.exe >/dev/null 2>&1 || true
for _ in $(seq 1 150); do
  kill -0 "$wine_pid" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$wine_pid" 2>/dev/null; then
  echo "run: the program did not close in time; stopping it" >&2
else
  wait "$wine_pid" 2>/dev/null && status=0 || status=$?
  wine_pid=""
  [ "$status" -eq 0 ] || echo "run: the program exited with code $status" >&2
fi
