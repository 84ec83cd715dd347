#!/usr/bin/env bash
# How docs/agent-history.png was made: tessivo-agent runs for ten minutes, a writer of
# 960 MiB writes 8 MiB a second through minutes 2 to 4, the desktop program starts at
# minute 8 in a private X server, shows the 1-hour minute view, and the mouse hovers over
# minute 3 (the third minute sample). Takes about 11 minutes. Run from the repository after
# `cmake --workflow --preset native`; as root the agent sees every process.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=build/native
out=${1:-docs/agent-history.png}
work=$(mktemp -d)
pids=()
cleanup() {
  [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/src/agent/tessivo-agent" --socket "$work/agent.sock" 2>"$work/agent.log" &
pids+=($!)
start=$(date +%s)
at() { sleep $(( $1 - ($(date +%s) - start) )); }

at 120
"$build/tests/agent/tessivo_io_writer" $((960 * 1024 * 1024)) "$work/written" 0 120 &
pids+=($!)
echo "minute 2: writer of 960 MiB started" >&2

at 480
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
sleep 1
export DISPLAY=":$(head -n1 "$work/display")"
TESSIVO_AGENT_SOCKET="$work/agent.sock" "$build/src/qt/tessivo" 2>"$work/tessivo.log" &
pids+=($!)
echo "minute 8: tessivo started" >&2

at 630
xdotool mousemove 60 9 click 1   # 视图
sleep 1
xdotool mousemove 130 52 click 1 # 范围：1 小时（60 秒）
sleep 1
# Ten minute samples: index 9 at the plot's right edge (x 1264), 59 spans of the hour to its
# left edge (x 64); the third minute is index 2.
xdotool mousemove $(( 64 + (2 - (9 - 59)) * 1200 / 59 )) 200
sleep 1.5
import -window root "$out"
echo "minute 10.5: $out" >&2
grep -h . "$work/agent.log" "$work/tessivo.log" >&2 || true
