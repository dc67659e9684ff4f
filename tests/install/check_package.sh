#!/usr/bin/env bash
# The Debian package, built from this build into a temporary folder: its name, its fields (the
# library dependencies read from the programs), its files (those of the installed tree) and its
# postinst, run against a temporary root: cap_net_raw granted to both programs where setcap
# works, and otherwise an installation that goes on and says how else users can probe.
set -u
build="$1"
version="$2"
for tool in cpack dpkg-deb dpkg-shlibdeps file; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/deps.sh --package)"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack did not build the package"
    exit 1
fi
deb="$work/out/tivane_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; echo "FAIL: no $deb"; exit 1; }

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tivane ] || fail "Package is $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version is $(field Version)"
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6; do
    field Depends | grep -Eq "(^|, )$lib( |,|$)" || fail "Depends lacks $lib: $(field Depends)"
done
field Recommends | grep -q libcap2-bin || fail "setcap's package is not recommended"
# Debian's rule for long descriptions: no line wider than 80 columns.
if field Description | awk 'length > 80 { bad = 1 } END { exit !bad }'; then fail "a description line is too long"; fi

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sed 's#\./##' | LC_ALL=C sort -k2)
for f in usr/bin/tivane usr/bin/tivane-probe usr/bin/tivane-monitor usr/lib/systemd/system/tivane-monitor.service \
    usr/lib/systemd/user/tivane-monitor.service usr/share/applications/tivane.desktop \
    usr/share/metainfo/org.tivane.Tivane.metainfo.xml usr/share/man/man1/tivane.1.gz \
    usr/share/doc/tivane/copyright usr/share/doc/tivane/changelog.gz usr/share/tivane/Notify.wav; do
    echo "$files" | grep -q " $f$" || fail "the package lacks $f"
done
echo "$files" | grep -q '^-rwxr-xr-x usr/bin/tivane$' || fail "tivane is not executable in the package"
[ "$(echo "$files" | grep -c ' usr/share/icons/hicolor/.*/apps/tivane\.\(png\|svg\)$')" = 9 ] ||
    fail "the package does not hold the nine icons"
echo "$files" | grep -Eq ' (tests|tools)/| tst_' && fail "the package holds test or build files"

# The postinst against a root of our own.
mkdir -p "$work/control"
dpkg-deb -e "$deb" "$work/control"
postinst="$work/control/postinst"
[ -x "$postinst" ] || fail "the postinst is not executable"
root="$work/root"
fresh_root() {
    rm -rf "$root"
    mkdir -p "$root/usr/bin"
    dpkg-deb -x "$deb" "$root"
}
fakebin="$work/fakebin"
mkdir -p "$fakebin"
ln -sf "$(command -v cat)" "$fakebin/cat"

# setcap is missing: both programs named, the way out shown, the installation goes on.
fresh_root
out=$(DPKG_ROOT="$root" PATH="$fakebin" /bin/sh "$postinst" configure 2>&1)
status=$?
[ "$status" = 0 ] || fail "without setcap the postinst failed ($status): $out"
for word in "$root/usr/bin/tivane " "$root/usr/bin/tivane-probe" "setcap is not installed" "ping_group_range"; do
    echo "$out" | grep -qF "$word" || fail "without setcap the postinst does not say '$word': $out"
done

# setcap fails (a file system without capabilities).
printf '#!/bin/sh\necho "setcap: refused" >&2\nexit 1\n' >"$fakebin/setcap"
chmod +x "$fakebin/setcap"
out=$(DPKG_ROOT="$root" PATH="$fakebin" /bin/sh "$postinst" configure 2>&1)
status=$?
[ "$status" = 0 ] || fail "with setcap failing the postinst failed ($status): $out"
echo "$out" | grep -q "setcap failed" || fail "a failing setcap is not told: $out"

# Anything but configure leaves the files alone.
rm "$fakebin/setcap"
printf '#!/bin/sh\necho called >>"%s"\n' "$work/called" >"$fakebin/setcap"
chmod +x "$fakebin/setcap"
DPKG_ROOT="$root" PATH="$fakebin" /bin/sh "$postinst" abort-upgrade >/dev/null 2>&1
[ -e "$work/called" ] && fail "the postinst ran setcap for abort-upgrade"
# Each program gets its own setcap call.
DPKG_ROOT="$root" PATH="$fakebin" /bin/sh "$postinst" configure >/dev/null 2>&1
[ "$(wc -l <"$work/called" 2>/dev/null)" = 2 ] || fail "setcap was not called once for each program"

# The real setcap, where this user may use it: both programs end up with the capability.
if [ "$(id -u)" -eq 0 ] && command -v setcap >/dev/null && command -v getcap >/dev/null; then
    fresh_root
    out=$(DPKG_ROOT="$root" /bin/sh "$postinst" configure 2>&1)
    if echo "$out" | grep -q "setcap failed"; then
        echo "NOTE: this file system keeps no capabilities; the granting itself is not checked here"
    else
        for program in tivane tivane-probe; do
            getcap "$root/usr/bin/$program" | grep -q 'cap_net_raw[=+]ep' ||
                fail "$program was not granted cap_net_raw: $(getcap "$root/usr/bin/$program") $out"
        done
    fi
else
    echo "NOTE: not root or no setcap/getcap; the granting itself is not checked here"
fi

[ "$failures" -eq 0 ] && echo "PASS: the Debian package"
exit $((failures > 0))
