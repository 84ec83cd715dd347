#!/usr/bin/env bash
# Side by side, over the same idle processes: the CPU time per process per refresh of
# Tessivo's /proc sampler and of top, pidstat and htop (those that are installed).
# By hand only, not part of the test run:
#   bash bench/compare-peers.sh [path/to/proc_snapshot_bench]
# Each tool runs for a fixed number of refreshes; its CPU time (user + system, itself and
# whatever it waited for) comes from the shell's `time`.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

bench=${1:-build/native/bench/proc_snapshot_bench}
idle=${TESSIVO_PEER_IDLE:-1000}
refreshes=${TESSIVO_PEER_REFRESHES:-30}  # at 333 ms; pidstat's shortest interval is 1 s
if [ ! -x "$bench" ]; then
  echo "no $bench: build it first (cmake --workflow --preset native) or give its path" >&2
  exit 1
fi

sleepers=()
cleanup() {
  [ ${#sleepers[@]} -gt 0 ] && kill "${sleepers[@]}" 2>/dev/null
  wait 2>/dev/null || true
}
trap cleanup EXIT
for ((i = 0; i < idle; i++)); do
  sleep 100000 &
  sleepers+=($!)
done
sleep 1
listed=(/proc/[0-9]*)
processes=${#listed[@]}
echo "processes: $processes ($idle of them idle sleepers started here), $(nproc) cores"

TIMEFORMAT='%3U %3S'
results=()

# measure NAME REFRESHES COMMAND...: prints and records the CPU microseconds per process
# per refresh.
measure() {
  local name=$1 count=$2
  shift 2
  local times
  times=$({ time "$@" >/dev/null 2>&1 </dev/null; } 2>&1 | tail -n 1) || true  # timeout and htop end non-zero
  local user=${times% *} sys=${times#* }
  local us
  us=$(awk -v u="$user" -v s="$sys" -v n="$count" -v p="$processes" 'BEGIN { printf "%.2f", (u + s) * 1e6 / n / p }')
  printf '%-10s %4s refreshes  user %6ss  sys %6ss  %8s us per process per refresh\n' "$name" "$count" "$user" "$sys" "$us"
  results+=("$name $us")
}

measure tessivo "$refreshes" "$bench" --loop "$refreshes" 333
if command -v top >/dev/null; then
  measure top "$refreshes" top -b -d 0.333 -n "$refreshes" -w 512
else
  echo "top: not installed"
fi
if command -v pidstat >/dev/null; then
  pidstat_reports=$(((refreshes + 2) / 3))
  # pidstat -d's first report is the totals since boot, then one per interval.
  measure pidstat "$((pidstat_reports + 1))" pidstat -d 1 "$pidstat_reports"
else
  echo "pidstat: not installed"
fi
if command -v htop >/dev/null && command -v script >/dev/null; then
  # htop draws to a terminal and has no refresh count: a pseudo-terminal from script(1),
  # a fixed run time, and the refreshes that time allows at its 0.3 s delay (plus the first).
  seconds=$(awk -v n="$refreshes" 'BEGIN { printf "%.1f", n * 0.3 }')
  measure htop "$((refreshes + 1))" env TERM=xterm script -qec "stty rows 50 cols 200; timeout -s TERM $seconds htop -d 3" /dev/null
else
  echo "htop: not run (needs htop and script)"
fi

base=${results[0]#* }
echo
for r in "${results[@]:1}"; do
  awk -v name="${r% *}" -v us="${r#* }" -v b="$base" 'BEGIN { printf "%-10s %6.1fx the CPU time of tessivo per process per refresh\n", name, us / b }'
done
