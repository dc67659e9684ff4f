#!/usr/bin/env bash
# `make run`'s privilege set-up tells the truth: each program gets its own setcap call, and one
# line says what was granted or why not, with both ways to fix it. Root, sudo and setcap are
# stood in for by small scripts, so every case runs anywhere; the real setcap is used too when
# this user is root.
set -u
script="$1/scripts/grant-icmp.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
bin="$work/bin"
mkdir -p "$bin" "$work/app"
: >"$work/app/tivane"
: >"$work/app/tivane-probe"
for tool in bash cat; do ln -s "$(command -v "$tool")" "$bin/$tool"; done

# fake NAME BODY: a stand-in command in the test's PATH.
fake() {
    printf '#!/bin/bash\n%s\n' "$2" >"$bin/$1"
    chmod +x "$bin/$1"
}
# Runs the script with a setcap stand-in that records each call's arguments and then does BODY.
run() {
    rm -f "$work/calls"
    fake setcap "echo \"\$*\" >>$work/calls; ${1:-exit 0}"
    out=$(PATH="$bin" bash "$script" "$work/app" 2>&1)
    status=$?
    [ "$status" = 0 ] || fail "the script failed ($status): $out"
    [ "$(echo "$out" | wc -l)" = 1 ] || fail "more than one line: $out"
}
expect_fixes() {
    echo "$out" | grep -q "sudo setcap cap_net_raw+ep $work/app/tivane &&" || fail "no setcap fix shown: $out"
    echo "$out" | grep -q 'ping_group_range="0 2147483647"' || fail "no ping_group_range fix shown: $out"
}

# Root: granted, one program per call.
fake id 'case "$1" in -u) echo 0 ;; -G) echo 0 ;; esac'
run
[ "$(cat "$work/calls")" = "cap_net_raw+ep $work/app/tivane
cap_net_raw+ep $work/app/tivane-probe" ] || fail "setcap calls were: $(cat "$work/calls")"
echo "$out" | grep -q "^ICMP: granted cap_net_raw to $work/app/tivane $work/app/tivane-probe" || fail "granted: $out"

# A normal user with password-less sudo: through sudo, still one call each.
fake id 'case "$1" in -u) echo 1000 ;; -G) echo 1000 ;; esac'
fake sudo '[ "$1" = -n ] && shift; [ "$1" = true ] && exit 0; "$@"'
run
[ "$(wc -l <"$work/calls")" = 2 ] || fail "sudo: setcap calls were: $(cat "$work/calls")"
echo "$out" | grep -q "^ICMP: granted" || fail "sudo: $out"

# No root and no sudo: nothing is tried, and the reason and fixes are told.
fake sudo 'exit 1'
run
[ -e "$work/calls" ] && fail "setcap ran without rights"
echo "$out" | grep -q "not granted.*not root, and sudo is unavailable" || fail "no rights: $out"
expect_fixes

# A file system that keeps no capabilities.
fake id 'case "$1" in -u) echo 0 ;; -G) echo 0 ;; esac'
run 'echo "Failed to set capabilities on file: Operation not supported" >&2; exit 1'
echo "$out" | grep -q "not granted.*does not keep capabilities" || fail "no capabilities: $out"
expect_fixes

# setcap missing (the stand-in is removed; the system's own one must not be found either).
if [ ! -x /usr/sbin/setcap ] && [ ! -x /sbin/setcap ]; then
    rm -f "$bin/setcap"
    out=$(PATH="$bin" bash "$script" "$work/app" 2>&1)
    echo "$out" | grep -q "not granted.*setcap is not installed" || fail "setcap missing: $out"
    expect_fixes
else
    echo "NOTE: setcap is installed on this system; its absence is not checked here"
fi

# The real thing, where this user is root: both programs really carry the capability.
if [ "$(id -u)" -eq 0 ] && command -v getcap >/dev/null; then
    cp /bin/true "$work/app/tivane"
    cp /bin/true "$work/app/tivane-probe"
    out=$(bash "$script" "$work/app" 2>&1)
    if echo "$out" | grep -q "does not keep capabilities"; then
        echo "NOTE: the temporary folder keeps no capabilities: $out"
    else
        for p in tivane tivane-probe; do
            getcap "$work/app/$p" | grep -q 'cap_net_raw[=+]ep' || fail "$p has no capability: $out"
        done
    fi
fi

[ "$failures" -eq 0 ] && echo "PASS: grant-icmp.sh"
exit $((failures > 0))
