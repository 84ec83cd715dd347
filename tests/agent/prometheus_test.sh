#!/usr/bin/env bash
# A real Prometheus server scrapes the agent every second, on loopback only. A writer of
# known size runs and exits; Prometheus must see its application's written bytes grow by
# that size (within 2%) and the counter never reset across the exit.
# Usage: prometheus_test.sh AGENT WRITER
set -euo pipefail
agent=$1 writer=$2
bytes=$((24 * 1024 * 1024))
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/agent.log" ] && tail -5 "$work/agent.log" >&2; exit 1; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

mport=$(free_port)
"$agent" --socket "$work/agent.sock" --metrics "127.0.0.1:$mport" --kernel-threads sum >"$work/agent.log" 2>&1 &
pids+=($!)
# The exporter answers before the first snapshot is in (an empty one then): wait for one.
for _ in $(seq 50); do curl -sf "http://127.0.0.1:$mport/metrics" | grep -q '^tessivo_agent_processes [1-9]' && break; sleep 0.2; done
grep -q '^tessivo_agent_processes [1-9]' <<<"$(curl -sf "http://127.0.0.1:$mport/metrics")" || fail "agent serves no metrics"
# Kernel threads (read from the real /proc's flags) are one application, not one per kworker name.
scrape=$(curl -sf "http://127.0.0.1:$mport/metrics")
grep -q '^tessivo_app_processes{name="(kernel)",path="(kernel)"} [1-9]' <<<"$scrape" || fail "no (kernel) application"
! grep -q 'name="kworker' <<<"$scrape" || fail "kworker threads have series of their own"

# The series cap is applied: with --max-series 1 every application but one goes to (other).
cport=$(free_port)
"$agent" --socket "$work/capped.sock" --metrics "127.0.0.1:$cport" --max-series 1 >"$work/capped.log" 2>&1 &
pids+=($!)
capped=
for _ in $(seq 50); do
  capped=$(curl -sf "http://127.0.0.1:$cport/metrics" | grep '^tessivo_agent_application_series [1-9]' || true)
  [ -n "$capped" ] && break
  sleep 0.2
done
[ "$capped" = "tessivo_agent_application_series 1" ] || fail "--max-series 1 gives '$capped'"

pport=$(free_port)
cat >"$work/prometheus.yml" <<YML
global: { scrape_interval: 1s, evaluation_interval: 1s }
scrape_configs:
  - job_name: tessivo
    static_configs: [ { targets: ["127.0.0.1:$mport"] } ]
YML
timeout 120 prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address="127.0.0.1:$pport" --log.level=warn >"$work/prometheus.log" 2>&1 &
pids+=($!)
api="http://127.0.0.1:$pport/api/v1"
for _ in $(seq 100); do curl -sf "http://127.0.0.1:$pport/-/ready" >/dev/null && break; sleep 0.2; done
curl -sf "http://127.0.0.1:$pport/-/ready" >/dev/null || fail "prometheus did not start"

# query EXPR [TIME]: the first result's value, or nothing.
query() {
  curl -sf "$api/query" --data-urlencode "query=$1" ${2:+--data-urlencode "time=$2"} | jq -r '.data.result[0].value[1] // empty'
}
series='tessivo_app_written_bytes_total{name="tessivo_io_writer",source="all"}'

for _ in $(seq 60); do [ -n "$(query tessivo_agent_processes)" ] && break; sleep 0.25; done
[ -n "$(query tessivo_agent_processes)" ] || fail "prometheus does not scrape the agent"

"$writer" "$bytes" "$work/written" 4000 &
writer_pid=$!
for _ in $(seq 40); do [ -n "$(query "$series")" ] && break; sleep 0.25; done
[ "$(query "$series")" = 0 ] || fail "the writer's series is not scraped at zero before it writes"
wait "$writer_pid" || fail "writer failed"
sleep 3  # a few more scrapes after the exit

last=$(query "timestamp($series)")
[ -n "$last" ] || fail "no sample of $series"
# Evaluated at the last sample, increase() has nothing to extrapolate at the end, and a
# counter that starts at 0 is not extrapolated at the start.
increase=$(query "increase(${series}[2m])" "$last")
resets=$(query "resets(${series}[2m])" "$last")
echo "written $bytes bytes; Prometheus: increase $increase, resets $resets"
python3 - "$bytes" "$increase" <<'PY' || fail "increase $increase is not within 2% of $bytes"
import sys
want, got = float(sys.argv[1]), float(sys.argv[2])
sys.exit(0 if abs(got - want) <= 0.02 * want else 1)
PY
[ "$resets" = 0 ] || fail "the counter reset $resets times"
