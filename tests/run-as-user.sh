#!/usr/bin/env bash
# Runs a test program as an unprivileged user, for the cases that only a user bound by file
# permissions can test (root reads and writes through them, so those cases skip as root).
#
#   run-as-user.sh PROGRAM [ARGS...]
#
# Only root can switch users: anyone else already runs the suite unprivileged, so this exits 77
# (skipped). The user is TIVANE_TEST_USER, else nobody. It gets a fresh home, temporary and
# runtime folder of its own, removed afterwards. When that user cannot reach the program (a build
# tree below a private home folder), the run is skipped too, unless TIVANE_REQUIRE_UNPRIVILEGED
# is set, as CI sets it: there a skipped run would hide that the cases never ran.
set -uo pipefail

program=${1:?usage: run-as-user.sh PROGRAM [ARGS...]}
shift

skip() {
    if [ -n "${TIVANE_REQUIRE_UNPRIVILEGED:-}" ]; then
        echo "FAIL: $1" >&2
        exit 1
    fi
    echo "SKIP: $1"
    exit 77
}

[ "$(id -u)" -eq 0 ] || skip "only root can run the suite as another user; it already runs as $(id -un)"
command -v setpriv >/dev/null || skip "setpriv (util-linux) is needed to run the suite as another user"

user=${TIVANE_TEST_USER:-nobody}
uid=$(id -u "$user" 2>/dev/null) || skip "there is no user $user"
gid=$(id -g "$user")
[ "$uid" -ne 0 ] || skip "$user is root"
as_user=(setpriv --reuid="$uid" --regid="$gid" --clear-groups)
"${as_user[@]}" test -x "$program" || skip "$user cannot run $program (is a folder above it private?)"

home=$(mktemp -d "${TMPDIR:-/tmp}/tivane-$user.XXXXXX") || exit 1
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/tmp" "$home/run"
chown -R "$uid:$gid" "$home"
chmod 700 "$home"
"${as_user[@]}" test -w "$home/tmp" || skip "$user cannot reach $home (set TMPDIR to a folder others can pass)"

# The session of whoever started CI is not this user's; Qt and the tests find their own folders
# below the fresh home.
cd "$home" || exit 1
env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY -u XAUTHORITY -u WAYLAND_DISPLAY \
    -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME \
    HOME="$home" TMPDIR="$home/tmp" XDG_RUNTIME_DIR="$home/run" USER="$user" LOGNAME="$user" \
    "${as_user[@]}" "$program" "$@"
