#!/usr/bin/env bash
# CI: the program on a real kernel SCSI stack. Installs QEMU, builds the
# guest's programs in a build folder (configured and built here if it is not
# yet) and runs the QEMU guest test through CTest; the test fetches the
# guest's kernel, busybox and sg3-utils from Debian's registry and keeps
# them in <build-dir>/qemu/cache. Where QEMU cannot start the test reports
# itself skipped. Usage: tools/ci/qemu.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build-ci}

source tools/apt.sh
# The package lists also tell the test which kernel is Debian 12's current one.
if command -v qemu-system-x86_64 > /dev/null; then apt_refresh; else apt_install_missing qemu-system-x86; fi
bash tools/deps.sh

cmake -S . -B "$build" -DTAMRO_QEMU_TEST=ON
cmake --build "$build" -j2 --target qemu_test
start=$(date +%s)
# CI's summary reads whether the guest ran, under KVM or TCG, from the results.
ctest --test-dir "$build" -R '^qemu_real_drives$' --output-on-failure --output-junit qemu-results.xml
echo "qemu: $(( $(date +%s) - start )) s"
