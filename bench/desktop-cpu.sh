#!/usr/bin/env bash
# The whole Linux desktop program's CPU time beside the /proc sampler alone and `top`, over
# the same idle processes, in one run: each case starts the program in a private X server
# (with icewm as its desktop), lets it settle, then measures it, `top -b -d 0.333` and
# proc_snapshot_bench over the same window. By hand only, not part of the test run:
#   bash bench/desktop-cpu.sh [path/to/tessivo] [path/to/proc_snapshot_bench]
# Cases (TESSIVO_DESKTOP_CASES, space-separated; all by default):
#   rest      the window shown, Live view
#   small     the same over only TESSIVO_DESKTOP_SMALL (100) processes in all
#   tray      minimised into the notification area (icewm's tray)
#   iconic    minimised without a notification area (icewm with its tray off)
#   fresh     the Full view of a fresh program (no minute history yet)
#   full      the Full view over 72 hours of busy minute history
#   hour      the Live view after an hour's history
# History is reached without waiting: TESSIVO_BENCH_HISTORY=MINUTES makes the program record
# that many busy minutes (ten contributors each, through the chart's own recordSample; the
# last 80 seconds' refreshes quiet, as a rested program's Live view) before its first
# refresh, and TESSIVO_BENCH_RANGE=full selects the Full view. Both are for this script
# only; the program ignores them otherwise.
# CPU times are utime + stime of /proc/PID/stat (all threads) over the window; the X server's
# own time over the same window is shown beside the program's, as it is work the program
# causes. Needs Xvfb, icewm and xdotool (apt-get install icewm xdotool).
# By default everything runs in a PID namespace of its own (unshare, as root), so that the
# program, top and the sampler see only the idle processes started here and not whatever
# else the machine runs; TESSIVO_DESKTOP_NAMESPACE=0 measures over the machine's own.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
if [ "${TESSIVO_DESKTOP_NAMESPACE:-1}" = 1 ] && [ -z "${TESSIVO_DESKTOP_INSIDE:-}" ]; then
  exec unshare --pid --fork --mount-proc env TESSIVO_DESKTOP_INSIDE=1 bash "$0" "$@"
fi

program=${1:-build/native/src/qt/tessivo}
sampler=${2:-build/native/bench/proc_snapshot_bench}
idle=${TESSIVO_DESKTOP_IDLE:-1000}
small=${TESSIVO_DESKTOP_SMALL:-100}
seconds=${TESSIVO_DESKTOP_SECONDS:-30}
settle=${TESSIVO_DESKTOP_SETTLE:-5}
cases=${TESSIVO_DESKTOP_CASES:-rest small tray iconic fresh full hour}
for tool in "$program" "$sampler"; do
  [ -x "$tool" ] || { echo "no $tool: build it first (targets tessivo proc_snapshot_bench)" >&2; exit 1; }
done
for tool in Xvfb icewm xdotool top; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
sleepers=()
xvfb=""
wm=""
app=""
stop() { for p in "$@"; do [ -n "$p" ] && kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done; return 0; }
cleanup() {
  stop "$app" "$wm" "$xvfb"
  [ ${#sleepers[@]} -gt 0 ] && kill "${sleepers[@]}" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# sleepers_to TOTAL: starts or ends idle sleepers until about TOTAL processes are listed.
sleepers_to() {
  local want=$1 listed
  listed=(/proc/[0-9]*)
  local have=${#listed[@]}
  while [ "$have" -lt "$want" ]; do sleep 100000 & sleepers+=($!); have=$((have + 1)); done
  while [ "$have" -gt "$want" ] && [ ${#sleepers[@]} -gt 0 ]; do
    kill "${sleepers[-1]}" 2>/dev/null; wait "${sleepers[-1]}" 2>/dev/null || true
    unset 'sleepers[-1]'; have=$((have - 1))
  done
  sleep 1
}

# ticks PID: clock ticks of CPU (user + system, all threads) the process has used.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# desktop TRAY: a fresh X server and icewm, with or without its notification area.
desktop() {
  stop "$wm" "$xvfb"
  rm -f "$work/display"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb=$!
  for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$work/display")"
  mkdir -p "$work/icewm"
  printf 'TaskBarShowTray=%s\nTaskBarShowClock=0\nTaskBarShowCPUStatus=0\nTaskBarShowNetStatus=0\nTaskBarShowMEMStatus=0\n' \
    "$1" >"$work/icewm/preferences"
  ICEWM_PRIVCFG="$work/icewm" icewm >/dev/null 2>&1 &
  wm=$!
  sleep 1.5
}

hz=$(getconf CLK_TCK)
printf '%-7s %6s  %9s %9s %9s  %7s %7s  %8s %8s  %s\n' case procs program sampler top prog/smp top/prog "prog%core" "X%core" \
  "(us per process per refresh; program CPU, X server CPU)"
for case in $cases; do
  total=$((idle + 80))
  [ -n "${TESSIVO_DESKTOP_INSIDE:-}" ] && total=$((idle + 5))  # besides the sleepers: X, icewm, the tools
  [ "$case" = small ] && total=$small
  tray=0
  [ "$case" = tray ] && tray=1
  desktop "$tray"
  sleepers_to "$total"
  env_hist=()
  [ "$case" = fresh ] && env_hist=(TESSIVO_BENCH_RANGE=full)
  [ "$case" = full ] && env_hist=(TESSIVO_BENCH_HISTORY=4320 TESSIVO_BENCH_RANGE=full)
  [ "$case" = hour ] && env_hist=(TESSIVO_BENCH_HISTORY=60)
  env "${env_hist[@]}" "$program" >"$work/app.log" 2>&1 &
  app=$!
  # Settled: the window is up (after any history fill) and has run a few refreshes.
  timeout 120 xdotool search --sync --name '^Tessivo$' >/dev/null
  sleep "$settle"
  if [ "$case" = tray ] || [ "$case" = iconic ]; then
    win=$(xdotool search --sync --onlyvisible --name '^Tessivo$' | head -n1)
    xdotool windowminimize "$win"
    sleep 2
    if [ "$case" = tray ] && xdotool search --onlyvisible --name '^Tessivo$' >/dev/null 2>&1; then
      echo "tray: the window did not go into the notification area" >&2
    fi
  fi
  listed=(/proc/[0-9]*)
  processes=${#listed[@]}
  refreshes=$((seconds * 3))
  a0=$(ticks "$app"); x0=$(ticks "$xvfb")
  TIMEFORMAT='%3U %3S'
  { time top -b -d 0.333 -n "$refreshes" -w 512 >/dev/null 2>&1; } 2>"$work/top.time" &
  topjob=$!
  { time "$sampler" --loop "$refreshes" 333 >/dev/null 2>&1; } 2>"$work/sampler.time" &
  samplerjob=$!
  start=$(date +%s.%N)
  wait "$topjob" "$samplerjob"
  end=$(date +%s.%N)
  a1=$(ticks "$app"); x1=$(ticks "$xvfb")
  stop "$app"; app=""
  awk -v c="$case" -v p="$processes" -v n="$refreshes" -v hz="$hz" -v a="$((a1 - a0))" -v x="$((x1 - x0))" \
      -v t0="$start" -v t1="$end" -v top="$(tail -n1 "$work/top.time")" -v smp="$(tail -n1 "$work/sampler.time")" '
    BEGIN {
      wall = t1 - t0
      split(top, tt, " "); split(smp, ss, " ")
      prog = a / hz; topcpu = tt[1] + tt[2]; smpcpu = ss[1] + ss[2]
      appn = wall / 0.333  # the program refreshes every 333 ms over the same window
      pu = prog * 1e6 / appn / p; su = smpcpu * 1e6 / n / p; tu = topcpu * 1e6 / n / p
      printf "%-7s %6d  %9.2f %9.2f %9.2f  %7.2fx %7.2fx  %7.2f%% %7.2f%%\n", c, p, pu, su, tu, pu / su, tu / pu,
             100 * prog / wall, 100 * x / hz / wall
    }'
done
