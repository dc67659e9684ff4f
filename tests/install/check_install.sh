#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR (prefix /usr, as the package does) and checks one
# aspect of the installed tree, named by the first argument:
#   files    every file in its place with its mode, and nothing else
#   desktop  the menu entry passes desktop-file-validate and names what is installed
#   metainfo the AppStream data passes appstreamcli validate and names the menu entry
#   manpages both manual pages render without warnings and describe their program
#   run      the installed programs answer --version, and a first start under a fresh HOME
#            creates the user's list from the example, leaving the installation untouched
# A validator that is not installed makes its check skip (exit 77) with a message.
set -u
mode="$1"
build="$2"
src="$3"
version="$4"

work=$(mktemp -d)
app_pid=""
trap '[ -n "$app_pid" ] && kill -9 "$app_pid" 2>/dev/null; rm -rf "$work"' EXIT
dest="$work/dest"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
skip() {
    echo "SKIP: $*"
    exit 77
}
need() {
    command -v "$1" >/dev/null || skip "$1 is not installed (scripts/deps.sh --test installs it)"
}

if ! DESTDIR="$dest" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install did not succeed"
    exit 1
fi
usr="$dest/usr"

# Width and height of a PNG, from its header.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}

case "$mode" in
files)
    expected="755 usr/bin/tivane
755 usr/bin/tivane-probe
755 usr/bin/tivane-monitor
644 usr/lib/systemd/system/tivane-monitor.service
644 usr/lib/systemd/user/tivane-monitor.service
644 usr/share/man/man1/tivane-monitor.1.gz
644 usr/share/applications/tivane.desktop
644 usr/share/doc/tivane/changelog.gz
644 usr/share/doc/tivane/copyright"
    for size in 128 16 22 24 256 32 48 64; do
        expected+=$'\n'"644 usr/share/icons/hicolor/${size}x${size}/apps/tivane.png"
    done
    # The tray's state pictures, by name for tray hosts that look icons up in the theme.
    for size in 16 22 24 32 48; do
        for state in degraded down idle up; do
            expected+=$'\n'"644 usr/share/icons/hicolor/${size}x${size}/status/tivane-${state}.png"
        done
    done
    expected+="
644 usr/share/icons/hicolor/scalable/apps/tivane.svg
644 usr/share/man/man1/tivane-probe.1.gz
644 usr/share/man/man1/tivane.1.gz
644 usr/share/metainfo/org.tivane.Tivane.metainfo.xml
644 usr/share/tivane/HostDown.wav
644 usr/share/tivane/HostUp.wav
644 usr/share/tivane/Info.wav
644 usr/share/tivane/Notify.wav
644 usr/share/tivane/list.example.txt"
    actual=$(cd "$dest" && find . \( -type f -o -type l \) -printf '%m %P\n' | LC_ALL=C sort -k2)
    expected=$(echo "$expected" | LC_ALL=C sort -k2)
    if [ "$actual" != "$expected" ]; then
        fail "the installed files differ from the expected ones:"
        diff <(echo "$expected") <(echo "$actual")
    fi
    # Folders an installation adds are readable by everyone.
    bad_dirs=$(find "$dest" -type d ! -perm 755 -printf '%P %m\n')
    [ -z "$bad_dirs" ] || fail "folders without mode 755: $bad_dirs"

    for size in 16 22 24 32 48 64 128 256; do
        png="$usr/share/icons/hicolor/${size}x${size}/apps/tivane.png"
        [ "$(head -c8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
        [ "$(png_size "$png")" = "${size}x${size}" ] || fail "$png is $(png_size "$png"), not ${size}x${size}"
    done
    grep -q '<svg' "$usr/share/icons/hicolor/scalable/apps/tivane.svg" || fail "the scalable icon is not SVG"
    for wav in Notify Info; do
        w="$usr/share/tivane/$wav.wav"
        [ "$(head -c4 "$w")" = RIFF ] && [ "$(dd if="$w" bs=1 skip=8 count=4 2>/dev/null)" = WAVE ] ||
            fail "$w is not a wave file"
        cmp -s "$w" "$build/bin/$wav.wav" || fail "$w is not the built sound"
    done
    cmp -s "$usr/share/tivane/list.example.txt" "$src/resources/list.example.txt" ||
        fail "the example list is not the project's"
    gzip -dc "$usr/share/doc/tivane/changelog.gz" | head -1 | grep -q "^tivane ($version) " ||
        fail "the changelog does not start with version $version"
    grep -q '^Copyright: ' "$usr/share/doc/tivane/copyright" || fail "the copyright file names no copyright"
    for program in tivane tivane-probe; do
        readelf -d "$usr/bin/$program" 2>/dev/null | grep -Eq 'RPATH|RUNPATH' &&
            fail "$program carries a library search path of the build"
    done
    ;;
desktop)
    need desktop-file-validate
    entry="$usr/share/applications/tivane.desktop"
    out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
    [ -z "$out" ] || fail "desktop-file-validate warns: $out"
    grep -qx 'Categories=Network;Monitor;' "$entry" || fail "the menu entry is not in Network;Monitor"
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
    [ -x "$usr/bin/$exec_name" ] || fail "Exec=$exec_name is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    [ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "Icon=$icon has no installed icon"
    ;;
metainfo)
    need appstreamcli
    file="$usr/share/metainfo/org.tivane.Tivane.metainfo.xml"
    out=$(appstreamcli validate --no-net "$file" 2>&1) || fail "appstreamcli validate: $out"
    grep -q '<id>org.tivane.Tivane</id>' "$file" || fail "the component id is not the file's name"
    grep -q '<launchable type="desktop-id">tivane.desktop</launchable>' "$file" ||
        fail "the metainfo does not name the installed menu entry"
    grep -q "<release version=\"$version\"" "$file" || fail "the metainfo does not list release $version"
    ;;
manpages)
    need man
    for page in tivane tivane-probe tivane-monitor; do
        file="$usr/share/man/man1/$page.1.gz"
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" 2>&1 >"$work/$page.txt")
        [ -z "$warnings" ] || fail "$page(1) renders with warnings: $warnings"
        grep -q "^NAME" "$work/$page.txt" && grep -q "^ *$page - " "$work/$page.txt" ||
            fail "$page(1) has no NAME line for $page"
        grep -q -- "--version" "$work/$page.txt" || fail "$page(1) does not describe --version"
        grep -q "$version" "$work/$page.txt" || fail "$page(1) does not carry version $version"
    done
    ;;
run)
    for program in tivane tivane-probe tivane-monitor; do
        out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$usr/bin/$program" --version 2>&1)
        [ "$out" = "$program $version" ] || fail "installed $program --version says: $out"
    done

    # A first start as a new user: nothing beside the program, a home of its own.
    export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
    export XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen
    mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    before=$(cd "$dest" && find . | LC_ALL=C sort)
    "$usr/bin/tivane" >"$work/app.log" 2>&1 &
    app_pid=$!
    list="$XDG_DATA_HOME/Tivane/list.txt"
    for _ in $(seq 100); do
        [ -f "$list" ] && break
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -f "$list" ] || fail "the first start created no $list: $(cat "$work/app.log")"
    cmp -s "$list" "$usr/share/tivane/list.example.txt" || fail "the new list is not the example list"
    # It waits with the message that tells where the list is; end it.
    kill -TERM "$app_pid" 2>/dev/null
    for _ in $(seq 30); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=""
    after=$(cd "$dest" && find . | LC_ALL=C sort)
    [ "$before" = "$after" ] || fail "the start changed the installation: $(diff <(echo "$before") <(echo "$after"))"
    ;;
*)
    echo "unknown check: $mode"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ] && echo "PASS: installed tree, $mode"
exit $((failures > 0))
