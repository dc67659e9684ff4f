#!/usr/bin/env bash
# Lets a normal user send ICMP echo requests with the built programs: grants each of them
# cap_net_raw with its own setcap call (one call with two files would grant only the first).
# Prints one line: what was granted, or why nothing was and the two ways to fix it. Never fails
# the caller: the program runs either way and explains a missing right itself.
set -u
dir="$1"
programs=("$dir/tivane" "$dir/tivane-probe")

# setcap lives in /sbin, which a normal user's PATH may lack.
setcap=$(PATH="$PATH:/usr/sbin:/sbin" command -v setcap)

fixes="fix: sudo setcap cap_net_raw+ep ${programs[0]} && sudo setcap cap_net_raw+ep ${programs[1]}"
fixes+=", or allow unprivileged ICMP: sudo sysctl net.ipv4.ping_group_range=\"0 2147483647\""

# Whether unprivileged ICMP sockets already let one of this user's groups probe.
group_may_probe() {
    local low high g
    read -r low high </proc/sys/net/ipv4/ping_group_range 2>/dev/null || return 1
    for g in $(id -G); do
        [ "$g" -ge "$low" ] && [ "$g" -le "$high" ] && return 0
    done
    return 1
}

not_granted() {
    local note=""
    group_may_probe && note=" (this user can still probe: ping_group_range covers one of its groups)"
    echo "ICMP: cap_net_raw not granted to ${programs[*]}: $1$note; $fixes"
    exit 0
}

[ -n "$setcap" ] || not_granted "setcap is not installed (package libcap2-bin)"
runner=()
if [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then
        runner=(sudo -n)
    else
        not_granted "not root, and sudo is unavailable or needs a password"
    fi
fi

for program in "${programs[@]}"; do
    if ! error=$("${runner[@]}" "$setcap" cap_net_raw+ep "$program" 2>&1); then
        case "$error" in
        *"not supported"*)
            not_granted "the file system of $dir does not keep capabilities ($error)" ;;
        *)
            not_granted "setcap failed on $program: ${error:-no reason given}" ;;
        esac
    fi
done
echo "ICMP: granted cap_net_raw to ${programs[*]}; any user can probe with them."
