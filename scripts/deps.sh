#!/usr/bin/env bash
# Installs the Debian packages Tivane needs to build, run and test.
# Only packages that are missing are installed, so running it again is cheap.
set -euo pipefail

packages=(
    cmake ninja-build g++ make pkg-config
    qt6-base-dev qt6-multimedia-dev qt6-svg-dev libqt6svg6 libgl-dev
    qt6-qpa-plugins
    # History on disk: Qt's SQL module with its SQLite driver.
    libqt6sql6-sqlite
    # The history's write path talks to SQLite directly, through the driver's own connection.
    libsqlite3-dev
    libcap2-bin iproute2 procps
    # tivane-monitor: Qt's HTTP server for /metrics, and a YAML reader for Prometheus target files.
    # qt6-httpserver-dev's CMake files need the WebSockets ones, which it does not pull in itself.
    qt6-httpserver-dev qt6-websockets-dev libyaml-cpp-dev
)
# Reading the libraries the programs need (dpkg-shlibdeps, which uses file) for the package.
if [ "${1:-}" = "--package" ]; then
    packages+=(dpkg-dev file xz-utils)
fi
if [ "${1:-}" = "--test" ]; then
    # The end-to-end test runs the program on a virtual display with a tray host; the
    # namespace tests run probes as another user and shape a link with tc. openbox frames the
    # windows there, so that geometry is tested as a window manager places it.
    packages+=(xvfb xauth trayer openbox x11-utils xdotool util-linux iproute2 dbus)
    # The installed tree's checks: the menu entry's and the metadata's validators, the manual
    # page reader, and the package's own build.
    packages+=(desktop-file-utils appstream man-db binutils dpkg-dev file xz-utils)
    # The window under a Wayland compositor: weston's headless back end and Qt's Wayland platform.
    packages+=(weston qt6-wayland)
    # The format check.
    packages+=(clang-format)
    # tivane-monitor under a real Prometheus, and curl to read its pages inside a namespace.
    packages+=(prometheus curl)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
