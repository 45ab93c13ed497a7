#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Corvane need.
# Idempotent: apt-get skips what is already there.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang-format clang-tidy
  # libFuzzer builds: clang 16 is the first Debian 12 clang that compiles std::expected
  clang-16 libclang-rt-16-dev
  # core libraries
  libsimdjson-dev libsodium-dev uuid-dev
  # platform backends
  qt6-base-dev qt6-declarative-dev qt6-tools-dev qt6-tools-dev-tools libqt6svg6-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
  qml6-module-qtquick-window qml6-module-qtquick-dialogs qml6-module-qtqml-workerscript
  qml6-module-qtquick-templates qml6-module-qttest qml6-module-qtquick-shapes
  libavahi-client-dev libsecret-1-dev libxtst-dev libx11-dev libevdev-dev libglib2.0-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  xvfb xdotool xinput x11-utils x11-xkb-utils avahi-daemon avahi-utils dbus dbus-x11 gnome-keyring
  libsecret-tools iproute2 util-linux procps python3 python3-dbus python3-gi
  # the keyring's unlock prompt and gdbus, which the keyring-locked fault scenario drives
  gcr libglib2.0-bin
  # window screenshots and desktop-file checks
  imagemagick appstream desktop-file-utils
  # the installed manual page, user unit and firewall rules, and closing a window as a
  # window manager does
  man-db libxml2-utils systemd python3-xlib
)

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps.sh must run as root (it calls apt-get)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends "${packages[@]}"
