#!/usr/bin/env bash
# CI: builds the Debian package from a build folder (configured and built
# here if it is not yet), checks it with lintian, installs it with apt-get
# and starts both installed programs offscreen, from inside through the
# window probe (tests/package). Usage: tools/ci/package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-build-ci}

export DEBIAN_FRONTEND=noninteractive
tools=(dpkg-dev file lintian appstream desktop-file-utils)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B "$build"
echo "started, did not finish" >"$build/package-check.txt"
cmake --build "$build" -j2
rm -f "$build"/tamro_*.deb
(cd "$build" && cpack -G DEB)
deb=$(ls "$root/$build"/tamro_*_amd64.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

appstreamcli validate --no-net packaging/org.tamro.Tamro.metainfo.xml
desktop-file-validate packaging/*.desktop
lintian --fail-on error --display-info "$deb"

apt-get install -y --reinstall "$deb"

fail() { echo "package check: $*" >&2; exit 1; }
probe=$root/$build/bin/libtamro_window_probe.so
home=$(mktemp -d)
start() {  # start <folder> <command...>: the installed program with the probe inside
  local folder=$1
  shift
  (cd "$folder" && HOME=$home QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$home LD_PRELOAD=$probe \
    timeout 180 "$@")
}

# tamro-demo from an empty folder: the simulated bus beside the installed
# program is scanned, a Quick run judges its drives, the logs land there.
folder=$(mktemp -d)
out=$(start "$folder" tamro-demo) || fail "tamro-demo did not finish: $out"
echo "$out"
grep -qx 'aspi: /usr/lib/tamro/demo/libwnaspi32.so' <<<"$out" || fail "tamro-demo loaded another library"
[ "$(grep -c '^drive: HA#[0-9]' <<<"$out")" -ge 5 ] || fail "tamro-demo listed too few drives"
grep -qx 'judge: PASS' <<<"$out" || fail "no drive passed"
logs=$(find "$folder" -name '*.log' | wc -l)
[ "$logs" -ge 1 ] || fail "no log in the folder tamro-demo was started from"
echo "tamro-demo: $logs logs in its current folder"

# The menu entry for real drives: it starts in the documents folder (made if
# missing) and the installed program takes the SCSI generic library beside it.
mkdir -p "$home/.config"
echo 'XDG_DOCUMENTS_DIR="$HOME/Reports"' >"$home/.config/user-dirs.dirs"
command=$(sed -n 's/^Exec=//p' /usr/share/applications/org.tamro.Tamro.desktop)
# shellcheck disable=SC2086  # the Exec line is split like the menu splits it
out=$(start / $command) || fail "tamro did not finish: $out"
echo "$out"
grep -qx 'aspi: /usr/lib/tamro/libwnaspi32.so' <<<"$out" || fail "tamro loaded another library"
[ -d "$home/Reports" ] || fail "the menu entry did not make the documents folder"
[ "$(HOME=$home /usr/lib/tamro/start-in-documents pwd)" = "$home/Reports" ] ||
  fail "the menu entry does not start in the documents folder"
man -l /usr/share/man/man1/tamro.1.gz >/dev/null
man -l /usr/share/man/man1/tamro-demo.1.gz >/dev/null
echo "package check: passed"
echo "ran: $(basename "$deb") built, validated, installed, both installed programs started" >"$build/package-check.txt"
