#!/usr/bin/env bash
# Builds TAMRO and runs every test. Usage: tools/test.sh [build-dir] [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cmake -S . -B "$build" "$@"
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2 --output-junit ctest-results.xml
