#!/usr/bin/env bash
# tivane-monitor with 10,000 loopback hosts (127.x.y.z), one sweep a second, all at once, for 20 s:
# its CPU share of one core and resident memory, then the time of one /metrics scrape of them all.
# Also counts the probes reported as timed out, which on loopback should be none.
set -u
monitor="${1:?usage: monitor_10000.sh PATH/TO/tivane-monitor}"
command -v curl >/dev/null || { echo "NOTE: curl is not installed; tivane-monitor benchmarks skipped"; exit 0; }
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; rm -rf "$work"' EXIT
for i in $(seq 0 9999); do
    echo "1|h$i|127.$((1 + i / 62500)).$((i / 250 % 250 + 1)).$((i % 250 + 1))"
done >"$work/list.txt"
port=$((20000 + RANDOM % 20000))
# A history of its own: the default file would carry the samples of every earlier run (its size,
# and so the time spent writing it, grows run by run) and fill the user's own history with these hosts.
"$monitor" --list "$work/list.txt" --listen "127.0.0.1:$port" --history "$work/history.sqlite" 2>"$work/err" &
pid=$!
hz=$(getconf CLK_TCK)
ticks() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }
sleep 3 # start-up and the first sweeps are not what is measured
t0=$(ticks)
s0=$(date +%s.%N)
sleep 20
t1=$(ticks)
s1=$(date +%s.%N)
rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status")
awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s0="$s0" -v s1="$s1" \
    'BEGIN { printf "monitor_10000_hosts_cpu_pct: %.1f %%\n", 100 * (b - a) / hz / (s1 - s0) }'
awk -v kb="$rss" 'BEGIN { printf "monitor_10000_hosts_rss_mb: %.1f MB\n", kb / 1024 }'
best=""
for _ in 1 2 3; do
    t=$(curl -s -o "$work/scrape" -w '%{time_total}' "http://127.0.0.1:$port/metrics")
    best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (a == "" || b < a) ? b : a }')
done
awk -v t="$best" 'BEGIN { printf "monitor_scrape_10000_ms: %.1f ms\n", t * 1000 }'
timeouts=$(awk -F' ' '/^tivane_status_total\{.*status="11010"\}/ { n += $2 } END { print n + 0 }' "$work/scrape")
echo "monitor_10000_loopback_timeouts: $timeouts probes"
