#!/usr/bin/env bash
# Run by `make clean` before it removes the build folder. Earlier versions kept the host list in
# <build>/bin/list.txt; it must not go with the build. It is moved to the user's own list
# ($XDG_DATA_HOME/Tivane/list.txt, the one the program uses when none lies beside it) when that
# does not exist yet; otherwise the clean stops and says what to do. Exit 0: nothing to keep.
set -u
build="$1"
old="$build/bin/list.txt"
[ -e "$old" ] || [ -L "$old" ] || exit 0

data="${XDG_DATA_HOME:-$HOME/.local/share}/Tivane"
new="$data/list.txt"

refuse() {
    echo "make clean: not removing $build: it holds a host list, $old. $1" >&2
    echo "  Keep it as your list:  mv '$old' '$new'   (your current one is then replaced)" >&2
    echo "  or drop it:            rm '$old'" >&2
    echo "  and run make clean again." >&2
    exit 1
}

if [ -L "$old" ] || [ ! -f "$old" ]; then
    refuse "It is not a plain file."
fi
# Under sudo, HOME may be root's: the list would end up with the wrong user.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ]; then
    refuse "Run make clean as the user whose list it is."
fi
if [ -e "$new" ] || [ -L "$new" ]; then
    if cmp -s "$old" "$new"; then
        rm -f "$old" && echo "make clean: $old was the same as $new; removed the copy in the build."
        exit $?
    fi
    refuse "You already have another list, $new."
fi

[ -d "$data" ] || mkdir -p -m 700 "$data" || refuse "The folder $data could not be created."
tmp=$(mktemp "$data/.list.txt.XXXXXX") || refuse "No file can be made in $data."
# Whole or not at all, and never over a list that appeared meanwhile.
if cp "$old" "$tmp" && sync "$tmp" && ln "$tmp" "$new" 2>/dev/null; then
    rm -f "$tmp"
    rm -f "$old"
    echo "make clean: moved your host list $old to $new, where Tivane now finds it."
    exit 0
fi
rm -f "$tmp"
refuse "It could not be copied to $new."
