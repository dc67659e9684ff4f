#!/usr/bin/env bash
# Runs the real program on a virtual display with a tray host: a second copy must refuse to
# run and leave the first alone, and the first must end through its Exit button (Alt+X),
# leaving its settings behind.
set -u
tivane="$1"
for tool in xvfb-run xdotool trayer; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/deps.sh --test installs it)"
        exit 77
    fi
done

if [ -z "${E2E_INSIDE_X:-}" ]; then
    export E2E_INSIDE_X=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

work=$(mktemp -d)
trap 'kill $tray_pid $first $second 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/app"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$tivane" "$(dirname "$tivane")"/*.wav "$work/app/"
printf '1|loopback|127.0.0.1\r\n' >"$work/app/list.txt"
first="" second=""

fail() {
    echo "FAIL: $*"
    exit 1
}

# Waits up to 10 s for a window of the process with the given title.
window_of() {
    local pid=$1 title=$2 w
    for _ in $(seq 50); do
        w=$(xdotool search --all --pid "$pid" --name "$title" 2>/dev/null | head -1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.2
    done
    return 1
}

exited_within() {
    local pid=$1
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.2
    done
    return 1
}

trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 24 &
tray_pid=$!
sleep 1

"$work/app/tivane" &
first=$!
main_window=$(window_of "$first" '^Tivane - 0\.1\.50$') || fail "the first copy shows no main window"
echo "first copy runs: window $main_window"

"$work/app/tivane" &
second=$!
box=$(window_of "$second" '^Tivane$') || fail "the second copy shows no message"
[ -z "$(xdotool search --all --pid "$second" --name 'Tivane - ' 2>/dev/null)" ] || fail "the second copy opened a main window"
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key Return
exited_within "$second" || fail "the second copy is still running after its message"
wait "$second"
echo "second copy refused and ended (exit $?)"
second=""
kill -0 "$first" 2>/dev/null || fail "the first copy ended when the second started"

xdotool windowfocus --sync "$main_window" 2>/dev/null
sleep 0.3
xdotool key alt+x
exited_within "$first" || fail "Alt+X did not end the first copy"
wait "$first"
rc=$?
first=""
[ "$rc" -eq 0 ] || fail "the first copy exited with $rc"
echo "first copy ended through Exit"

ini="$XDG_CONFIG_HOME/Tivane/Tivane.ini"
[ -f "$ini" ] || fail "no settings file at $ini"
cat "$ini"
for line in 'WndT=120' 'WndL=120' 'WndH=8350' 'WndW=7850' 'GridLines=False' 'Checkboxes=True' 'sndAlert=1'; do
    grep -qx "$line" "$ini" || fail "settings lack $line"
done
for section in '\[Settings\]' '\[View\]' '\[ToolBar\]'; do
    grep -qx "$section" "$ini" || fail "settings lack the section $section"
done
echo "PASS"
