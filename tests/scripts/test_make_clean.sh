#!/usr/bin/env bash
# `make clean` removes the build but never a host list an earlier version left in it: the list
# is moved to the user's folder when that has none, a copy of the user's list is dropped, and
# any other list stops the clean with both files untouched.
set -u
src="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home" XDG_DATA_HOME="$work/home/data"
unset SUDO_USER
mkdir -p "$HOME"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
build="$work/build"
user="$XDG_DATA_HOME/Tivane/list.txt"
fresh_build() {
    rm -rf "$build"
    mkdir -p "$build/bin"
    echo "artefact" >"$build/bin/tivane"
}
clean() { make -s -C "$src" clean BUILD_DIR="$build" >"$work/out" 2>&1; }

# Nothing to keep: the build goes.
fresh_build
clean || fail "a build without a list was not cleaned: $(cat "$work/out")"
[ -e "$build" ] && fail "the build is still there"

# A list in the build and none of the user's: moved, byte for byte, and said so.
fresh_build
printf '1|mine|127.0.0.1\r\n2|other|127.0.0.2\r\n' >"$build/bin/list.txt"
clean || fail "moving the old list failed: $(cat "$work/out")"
[ -e "$build" ] && fail "the build was kept after the list was moved"
[ "$(od -c "$user" 2>/dev/null)" = "$(printf '1|mine|127.0.0.1\r\n2|other|127.0.0.2\r\n' | od -c)" ] ||
    fail "the moved list differs"
grep -q "moved your host list" "$work/out" || fail "the move was not told: $(cat "$work/out")"
[ "$(stat -c %a "$XDG_DATA_HOME/Tivane")" = 700 ] || fail "the new folder is not private"
[ -z "$(find "$XDG_DATA_HOME/Tivane" -name '.list.txt.*')" ] || fail "a temporary file was left"

# The same list in both places: the copy in the build is dropped.
fresh_build
cp "$user" "$build/bin/list.txt"
clean || fail "an identical copy stopped the clean: $(cat "$work/out")"
[ -e "$build" ] && fail "the build is still there after an identical copy"
[ -f "$user" ] || fail "the user's list went"

# Another list in the build: nothing is removed, and the way out is shown.
fresh_build
printf '1|different|127.0.0.3\n' >"$build/bin/list.txt"
before=$(cat "$user")
if clean; then fail "make clean succeeded over a list it could not keep"; fi
[ "$(cat "$build/bin/list.txt")" = "1|different|127.0.0.3" ] || fail "the build's list changed"
[ "$(cat "$user")" = "$before" ] || fail "the user's list changed"
[ -f "$build/bin/tivane" ] || fail "the build was removed although the list could not be kept"
grep -q "mv '$build/bin/list.txt'" "$work/out" || fail "no way to keep it was shown: $(cat "$work/out")"

# The user's data folder cannot be made (a file stands in its place): nothing is removed.
rm -rf "$XDG_DATA_HOME"
mkdir -p "$(dirname "$XDG_DATA_HOME")"
echo "in the way" >"$XDG_DATA_HOME"
if clean; then fail "make clean succeeded although the list could not be moved"; fi
[ -f "$build/bin/list.txt" ] || fail "the list was lost when it could not be moved"

[ "$failures" -eq 0 ] && echo "PASS: make clean keeps old host lists"
exit $((failures > 0))
