#!/usr/bin/env bash
# Installs what building and testing TAMRO needs on Debian 12 (run as root).
set -euo pipefail
packages=(cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev fonts-liberation
  # the window through the accessibility bus, under a virtual display
  xvfb dbus at-spi2-core python3-gi gir1.2-atspi-2.0
  # what a screen reader says of it (Orca, its speech recorded, not spoken),
  # and keys typed into it
  orca xdotool)
source "$(dirname "${BASH_SOURCE[0]}")/apt.sh"
apt_install_missing "${packages[@]}"
