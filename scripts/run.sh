#!/usr/bin/env bash
# Builds the Windows program and runs it under Wine.
# With DISPLAY set it runs in that display until the program is closed. Without one it
# starts a private headless X server, lets the program sample for a few seconds, saves a
# screenshot to build/screenshot.png, closes the program and stops the server.
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

# Two settings the program's looks need under Wine 8, made once per prefix:
# - Direct3D through Vulkan when a Vulkan driver is installed: with the OpenGL renderer, what
#   Direct2D presents into a child window (the chart pane) never reaches the screen.
# - Chinese glyphs for the standard UI fonts, so the menus and the list's column titles are
#   not drawn as empty boxes.
run_prefix_ready() {
  tessivo_wine_prefix_ready
  [ -f "$WINEPREFIX/.tessivo-run-ready" ] && return 0
  if compgen -G '/usr/share/vulkan/icd.d/*.json' >/dev/null || compgen -G '/etc/vulkan/icd.d/*.json' >/dev/null; then
    wine reg add 'HKCU\Software\Wine\Direct3D' /v renderer /t REG_SZ /d vulkan /f >/dev/null 2>&1
  else
    echo "run: no Vulkan driver (Debian: mesa-vulkan-drivers); the chart pane may stay blank under Wine" >&2
  fi
  local font
  for font in 'Tahoma' 'MS Shell Dlg' 'MS Shell Dlg 2' 'Microsoft Sans Serif' 'Segoe UI'; do
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' /v "$font" \
      /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f >/dev/null 2>&1
  done
  wineserver -w
  touch "$WINEPREFIX/.tessivo-run-ready"
}

if [ -n "${DISPLAY:-}" ]; then
  run_prefix_ready
  exec wine "$exe"
fi

work=$(mktemp -d)
xvfb_pid=""
wine_pid=""
cleanup() {
  set +e
  if [ -n "$wine_pid" ] && kill -0 "$wine_pid" 2>/dev/null; then
    kill "$wine_pid" 2>/dev/null
    wait "$wine_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ]; then
    # Let Wine's helper processes on this display end before the display goes away.
    timeout 20 wineserver -w 2>/dev/null
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb chooses a free display number and reports it.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 1 300); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; echo "run: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$work/display" ] || { echo "run: Xvfb did not report a display" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

run_prefix_ready
wine "$exe" &
wine_pid=$!

# Wait for the window, then long enough for many refreshes (one every 333 ms) and a chart
# with some history.
for _ in $(seq 1 600); do
  xwininfo -root -tree 2>/dev/null | grep -q '"Tessivo"' && break
  kill -0 "$wine_pid" 2>/dev/null || { echo "run: the program ended early" >&2; exit 1; }
  sleep 0.1
done
sleep "${TESSIVO_RUN_SECONDS:-8}"

mkdir -p build
import -window root "$repo/build/screenshot.png"
echo "$repo/build/screenshot.png"

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
