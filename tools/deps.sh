#!/usr/bin/env bash
# Installs what building and testing TAMRO needs on Debian 12 (run as root).
set -euo pipefail
packages=(cmake make g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev qt6-base-dev fonts-liberation
  # the command line's JSON and options, and the validator its tests check the JSON with
  nlohmann-json3-dev libcli11-dev python3-jsonschema
  # promtool, which the tests check the metrics and the README's alert rule with
  prometheus
  # the window through the accessibility bus, under a virtual display
  xvfb dbus at-spi2-core python3-gi gir1.2-atspi-2.0
  # what a screen reader says of it (Orca, its speech recorded, not spoken),
  # and keys typed into it
  orca xdotool)
source "$(dirname "${BASH_SOURCE[0]}")/apt.sh"
apt_install_missing "${packages[@]}"
