#!/usr/bin/env bash
# Runs the real program on a virtual display with a window manager (openbox frames the window,
# as a desktop does) and a tray host. Checks: a second copy refuses to run and leaves the first
# alone; the window's place survives runs exactly, is clamped back onto the screen and keeps its
# outer minimum; the program ends with exit code 0 and its settings written through the Exit
# button, the tray menu's Exit and the signals that ask a program to end.
set -u
tivane="$1"
for tool in xvfb-run xdotool trayer openbox xprop xwininfo; do
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
pids=()
trap 'kill "${pids[@]}" $app 2>/dev/null; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/app"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$tivane" "$(dirname "$tivane")"/*.wav "$work/app/"
printf '1|loopback|127.0.0.1\r\n' >"$work/app/list.txt"
ini="$XDG_CONFIG_HOME/Tivane/Tivane.ini"
app=""

fail() {
    echo "FAIL: $*"
    [ -f "$ini" ] && cat "$ini"
    exit 1
}

# Waits up to 10 s for a window of the process with the given title.
window_of() {
    local pid=$1 title=$2 w
    for _ in $(seq 50); do
        w=$(xdotool search --all --onlyvisible --pid "$pid" --name "$title" 2>/dev/null | head -1)
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

# The tray icon's window: a small window of ours embedded in the tray. xdotool does not find it
# there, so it is read from the window tree (only one copy runs at a time).
tray_icon() {
    local w
    for _ in $(seq 50); do
        w=$(xwininfo -root -tree 2>/dev/null |
            sed -n 's/^ *\(0x[0-9a-f]*\) "Tivane": ("tivane" "Tivane")  \([0-9]*\)x[0-9]*+.*/\1 \2/p' |
            awk '$2 < 64 { print $1; exit }')
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.2
    done
    return 1
}

start_app() {
    "$work/app/tivane" &
    app=$!
    main_window=$(window_of "$app" '^Tivane - 0\.1\.50$') || fail "the program shows no main window"
    # Give the window manager time to frame and place it.
    sleep 0.5
}

# Ends the running copy by the given means and expects exit code 0.
end_app() {
    local how=$1
    case "$how" in
    exit-button)
        xdotool windowactivate --sync "$main_window" 2>/dev/null
        sleep 0.3
        xdotool key alt+x
        ;;
    tray-menu)
        local icon
        icon=$(tray_icon) || fail "no tray icon"
        xdotool mousemove --window "$icon" 8 8 click 3
        sleep 0.5
        xdotool key x
        ;;
    *) kill -s "$how" "$app" ;;
    esac
    exited_within "$app" || fail "$how did not end the program"
    wait "$app"
    local rc=$?
    app=""
    [ "$rc" -eq 0 ] || fail "ending by $how gave exit code $rc"
    [ -f "$ini" ] || fail "no settings file after ending by $how"
    echo "ended by $how with exit code 0"
}

expect_setting() {
    grep -qx "$1" "$ini" || fail "settings lack $1"
}

set_geometry() {
    mkdir -p "$(dirname "$ini")"
    printf '[Settings]\nWndT=%s\nWndL=%s\nWndH=%s\nWndW=%s\n' "$1" "$2" "$3" "$4" >"$ini"
}

openbox >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
done
trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 24 &
pids+=($!)
sleep 1

# A first run: the default place, a second copy refused, the exact geometry written back.
start_app
echo "first copy runs: window $main_window"
"$work/app/tivane" &
second=$!
pids+=($second)
box=$(window_of "$second" '^Tivane$') || fail "the second copy shows no message"
[ -z "$(xdotool search --all --pid "$second" --name 'Tivane - ' 2>/dev/null)" ] || fail "the second copy opened a main window"
xdotool windowactivate --sync "$box" 2>/dev/null
xdotool key Return
exited_within "$second" || fail "the second copy is still running after its message"
wait "$second"
echo "second copy refused and ended (exit $?)"
kill -0 "$app" 2>/dev/null || fail "the first copy ended when the second started"
end_app exit-button
for line in 'WndT=120' 'WndL=120' 'WndH=8350' 'GridLines=False' 'Checkboxes=True' 'sndAlert=1'; do
    expect_setting "$line"
done
# A first run opens wide enough for the statistics columns, within the 1024-pixel screen.
first_width=$(sed -n 's/^WndW=//p' "$ini")
[ "${first_width:-0}" -gt 7850 ] && [ "$first_width" -le 15360 ] ||
    fail "the first run's width $first_width is not between the default and the screen's"
for section in '\[Settings\]' '\[View\]' '\[ToolBar\]'; do
    grep -qx "$section" "$ini" || fail "settings lack the section $section"
done

# The same place again: nothing drifts by the frame from one run to the next.
start_app
end_app tray-menu
for line in 'WndT=120' 'WndL=120' 'WndH=8350' "WndW=$first_width"; do
    expect_setting "$line"
done

# A stored size below the minimum opens at the outer minimum, not the minimum plus the frame.
set_geometry 300 450 3000 5000
start_app
end_app TERM
for line in 'WndT=300' 'WndL=450' 'WndH=4800' 'WndW=7850'; do
    expect_setting "$line"
done

# A place far off the screen comes back onto it, whole.
set_geometry 30000 30000 8350 7850
start_app
# xdotool adds the frame twice for a framed window; xwininfo tells the client's true place.
geometry=$(xwininfo -id "$main_window")
X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$geometry")
Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$geometry")
WIDTH=$(sed -n 's/.*Width: *//p' <<<"$geometry")
HEIGHT=$(sed -n 's/.*Height: *//p' <<<"$geometry")
echo "off-screen place came back at $X,$Y ${WIDTH}x$HEIGHT"
[ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1024 ] && [ $((Y + HEIGHT)) -le 768 ] ||
    fail "the window is not on the screen: $X,$Y ${WIDTH}x$HEIGHT"
end_app INT
grep -q '^WndL=30000$' "$ini" && fail "the off-screen place was written back"

# Each ending released the lock: a new start runs, and Hang-up ends it in order too.
start_app
end_app HUP
echo "PASS"
