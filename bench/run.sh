#!/usr/bin/env bash
# Runs every benchmark once and prints "name: value unit" lines.
set -u
build="${1:-build}"
export QT_QPA_PLATFORM=offscreen
for b in "$build"/bench/bench_*; do
    [ -f "$b" ] && [ -x "$b" ] && "$b"
done
# The command-line probe against fping, measured from outside; skipped without fping.
"$(dirname "$0")/cli_vs_fping.sh" "$build/bin/tivane-probe"
# tivane-monitor with 10,000 loopback hosts, measured from outside.
"$(dirname "$0")/monitor_10000.sh" "$build/bin/tivane-monitor"
exit 0
