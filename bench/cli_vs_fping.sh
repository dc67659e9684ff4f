#!/usr/bin/env bash
# tivane-probe against fping on loopback, measured from outside: the median wall time of each,
# in alternating runs, as a ratio (tivane-probe / fping). One host, and 10,000 loopback addresses.
set -u
probe="${1:?usage: cli_vs_fping.sh TIVANE_PROBE}"
if ! command -v fping >/dev/null 2>&1; then
    echo "probe_cli_one_host_vs_fping: skipped (fping is not installed)"
    echo "probe_cli_10000_vs_fping: skipped (fping is not installed)"
    exit 0
fi
if [ ! -x "$probe" ]; then
    echo "probe_cli_one_host_vs_fping: skipped ($probe is missing)"
    echo "probe_cli_10000_vs_fping: skipped ($probe is missing)"
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 127.0.0.1 .. 127.0.39.250: all loopback.
for ((i = 0; i < 10000; i++)); do echo "127.0.$((i / 250)).$((i % 250 + 1))"; done >"$work/hosts"
mapfile -t hosts <"$work/hosts"

# Wall time of one run in microseconds.
wall_us() {
    local start end
    start=$(date +%s%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s%N)
    echo $(((end - start) / 1000))
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# compare NAME RUNS -- PROBE-COMMAND... -- FPING-COMMAND...
compare() {
    local name=$1 runs=$2
    shift 3
    local -a mine=() theirs=()
    while [ "$1" != "--" ]; do mine+=("$1"); shift; done
    shift
    theirs=("$@")
    : >"$work/a"
    : >"$work/b"
    # One unmeasured run each, so neither pays for a cold cache.
    wall_us "${mine[@]}" >/dev/null
    wall_us "${theirs[@]}" >/dev/null
    for ((r = 0; r < runs; r++)); do
        wall_us "${mine[@]}" >>"$work/a"
        wall_us "${theirs[@]}" >>"$work/b"
    done
    local a b
    a=$(median <"$work/a")
    b=$(median <"$work/b")
    awk -v n="$name" -v a="$a" -v b="$b" 'BEGIN {printf "%s: %.2f ratio\n%s_ms: %.1f ms\n%s_fping_ms: %.1f ms\n", n, a / b, n, a / 1000, n, b / 1000}'
}

compare probe_cli_one_host_vs_fping 31 -- "$probe" 127.0.0.1 -- fping -q 127.0.0.1
compare probe_cli_10000_vs_fping 11 -- "$probe" "${hosts[@]}" -- fping -q -i0 -f "$work/hosts"
exit 0
