#!/usr/bin/env bash
# Sourced by the Wine helpers: a private headless X server for one run.
# tessivo_start_xvfb <work folder> starts it and exports DISPLAY (Xvfb picks a free display
# number and reports it, so parallel runs never collide); tessivo_stop_xvfb ends it.
tessivo_xvfb_pid=""

tessivo_start_xvfb() {
  local work=$1
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  tessivo_xvfb_pid=$!
  local _
  for _ in $(seq 1 300); do
    [ -s "$work/display" ] && break
    if ! kill -0 "$tessivo_xvfb_pid" 2>/dev/null; then
      echo "xvfb: Xvfb did not start:" >&2
      cat "$work/xvfb.log" >&2
      tessivo_xvfb_pid=""
      return 1
    fi
    sleep 0.1
  done
  if [ ! -s "$work/display" ]; then
    echo "xvfb: timed out waiting for Xvfb to report its display" >&2
    return 1
  fi
  export DISPLAY=":$(head -n1 "$work/display")"
}

tessivo_stop_xvfb() {
  [ -n "$tessivo_xvfb_pid" ] || return 0
  kill "$tessivo_xvfb_pid" 2>/dev/null
  wait "$tessivo_xvfb_pid" 2>/dev/null
  tessivo_xvfb_pid=""
}
