#!/usr/bin/env bash
# Builds Tessivo and runs it.
#   bash scripts/run.sh           the native Linux program, over this machine's /proc
#   bash scripts/run.sh windows   the Windows program under Wine (scripts/run-windows.sh)
# With DISPLAY set the program runs in that display until it is closed. Without one it starts
# a private headless X server, runs a short disk writer beside the program so there is real
# I/O to see, lets it sample for a few seconds, saves a screenshot, prints its path and
# closes the program.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
repo=$(pwd)

if [ "${1:-linux}" = windows ]; then
  shift
  exec bash scripts/run-windows.sh "$@"
fi

bash scripts/setup.sh
build_dir=${TESSIVO_BUILD_DIR:-build/native}
cmake --preset native -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2 --target tessivo
exe="$repo/$build_dir/src/qt/tessivo"
[ -x "$exe" ] || { echo "run: $exe was not built" >&2; exit 1; }

if [ -n "${DISPLAY:-}" ]; then
  exec "$exe"
fi

# shellcheck source=xvfb.sh
. scripts/xvfb.sh

work=$(mktemp -d)
app_pid=""
writer_pid=""
cleanup() {
  set +e
  [ -n "$writer_pid" ] && kill "$writer_pid" 2>/dev/null && wait "$writer_pid" 2>/dev/null
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill -KILL "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  tessivo_stop_xvfb
  rm -rf "$work"
}
trap cleanup EXIT

tessivo_start_xvfb "$work" || { echo "run: no X server" >&2; exit 1; }

# Something to watch: a writer that rewrites a 32 MiB file and reads it back, over and over.
(
  exec -a tessivo-demo-writer bash -c '
    while :; do
      dd if=/dev/zero of="$1/demo.bin" bs=1M count=32 conv=fsync status=none
      dd if="$1/demo.bin" of=/dev/null bs=1M status=none
      sleep 0.5
    done' _ "$work"
) &
writer_pid=$!

"$exe" &
app_pid=$!

for _ in $(seq 1 300); do
  # Read the whole tree before matching: grep -q on a pipe would end xwininfo early.
  grep -q '"Tessivo"' <<<"$(xwininfo -root -tree 2>/dev/null)" && break
  kill -0 "$app_pid" 2>/dev/null || { echo "run: the program ended early" >&2; exit 1; }
  sleep 0.1
done
sleep "${TESSIVO_RUN_SECONDS:-8}"

mkdir -p build
import -window root "$repo/build/screenshot-linux.png"
echo "$repo/build/screenshot-linux.png"

# Close it the way a desktop session does: SIGTERM, which the program answers by closing its
# window and ending with exit code 0.
kill -TERM "$app_pid"
status=0
for _ in $(seq 1 100); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  echo "run: the program did not close in time; stopping it" >&2
else
  wait "$app_pid" || status=$?
  app_pid=""
  [ "$status" -eq 0 ] || echo "run: the program exited with code $status" >&2
fi
