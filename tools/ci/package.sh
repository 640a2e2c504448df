#!/usr/bin/env bash
# CI: builds the Debian package from a build folder (configured and built
# here if it is not yet), checks it with lintian, installs it with apt-get
# and starts both installed programs offscreen, from inside through the
# window probe (tests/package), then both installed command lines.
# Usage: tools/ci/package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${1:-build-ci}

source tools/apt.sh
apt_install_missing dpkg-dev file lintian appstream desktop-file-utils python3 python3-jsonschema prometheus systemd

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

# The command lines have no window to probe: the dynamic loader's own trace
# says which library they took, their output and status say the rest.
loaded() {  # loaded <command...>: the libwnaspi32.so the command loaded
  local trace
  trace=$(mktemp -d)
  (cd "$trace" && LD_DEBUG=files LD_DEBUG_OUTPUT=$trace/ld timeout 60 "$@" >/dev/null 2>&1) || true
  sed -n 's/.*file=\([^ ]*libwnaspi32\.so\) .*dynamically loaded by.*/\1/p' "$trace"/ld.* | sort -u
}
cli() {  # cli <folder> <command...>: run from the folder, stdout and stderr kept apart there
  local folder=$1
  shift
  (cd "$folder" && HOME=$home timeout 180 "$@" >"$cli_out/stdout" 2>"$cli_out/stderr")
}
cli_out=$(mktemp -d)
version=$(dpkg-deb -f "$deb" Version)
for command in tamro-cli tamro-cli-demo; do
  [ "$($command --version)" = "tamro-cli $version" ] || fail "$command --version is not $version"
done

# tamro-cli-demo from an empty folder: the simulated bus beside the installed
# program is listed, and listing it leaves nothing behind.
[ "$(loaded tamro-cli-demo scan)" = /usr/lib/tamro/demo/libwnaspi32.so ] || fail "tamro-cli-demo loaded another library"
folder=$(cd "$(mktemp -d)" && pwd -P)
cli "$folder" tamro-cli-demo scan || fail "tamro-cli-demo scan exited $?: $(cat "$cli_out/stderr")"
cat "$cli_out/stdout"
[ "$(grep -c '^HA#' "$cli_out/stdout")" -eq 7 ] || fail "tamro-cli-demo scan did not list the seven slots"
[ "$(grep -c '^HA#[0-9].*testable$' "$cli_out/stdout")" -ge 1 ] || fail "tamro-cli-demo scan found no testable drive"
[ -z "$(ls -A "$folder")" ] || fail "tamro-cli-demo scan wrote into its folder"

# A Quick run there: the bus holds a drive that fails, so the status is 1;
# the logs and the JSON results land in that folder, the table alone on
# stdout, one row per drive of the JSON file, and each judged drive's log is
# where the file says.
status=0
cli "$folder" tamro-cli-demo run --mode quick --json r.json || status=$?
cat "$cli_out/stdout"
[ "$status" -eq 1 ] || fail "tamro-cli-demo run exited $status, not 1: $(cat "$cli_out/stderr")"
[ -s "$cli_out/stderr" ] || fail "tamro-cli-demo run showed no progress on stderr"
python3 - "$folder" "$cli_out/stdout" <<'PY' || fail "tamro-cli-demo run: the results do not match"
import json, os, sys
folder = sys.argv[1]
results = json.load(open(os.path.join(folder, "r.json")))
drives = results["drives"]
assert results["command"] == "run" and results["mode"] == "quick" and results["exitStatus"] == 1, results
assert {"PASS", "FAIL"} <= {d["verdict"] for d in drives}, drives
rows = [line.split(None, 1) for line in open(sys.argv[2]) if line.strip()]
assert rows[0][1].startswith("Verdict") and len(rows) == len(drives) + 1, rows
for (address, rest), d in zip(rows[1:], drives):
    assert address == d["address"] and rest.startswith(d["verdict"] + " "), (address, rest, d)
for d in drives:
    if d["verdict"] in ("PASS", "FAIL"):
        assert d["log"] == os.path.join(folder, d["identity"]["serial"] + ".log") and os.path.isfile(d["log"]), d
assert not os.path.exists(os.path.join(folder, "r.json.part"))
PY
python3 tests/cli/validate_results.py /usr/share/doc/tamro/results.schema.json "$folder/r.json" ||
  fail "tamro-cli-demo run: the results do not follow the installed schema"
echo "tamro-cli-demo: $(find "$folder" -name '*.log' | wc -l) logs and r.json in its current folder"

# tamro-cli for real drives takes the SCSI generic library beside it; with or
# without drives it lists the slots, or stops with its reason.
[ "$(loaded tamro-cli scan)" = /usr/lib/tamro/libwnaspi32.so ] || fail "tamro-cli loaded another library"
status=0
cli / tamro-cli scan || status=$?
cat "$cli_out/stdout" "$cli_out/stderr"
case $status in
  0) [ "$(grep -c '^HA#' "$cli_out/stdout")" -eq 7 ] || fail "tamro-cli scan did not list the seven slots" ;;
  3) grep -q '^tamro-cli: ' "$cli_out/stderr" || fail "tamro-cli scan stopped without a reason" ;;
  *) fail "tamro-cli scan exited $status" ;;
esac

# The health check of the simulated bus into a textfile folder, as the timer
# runs it for real drives: valid metrics, and the timer's units verify.
metrics=$(mktemp -d)/node-exporter/tamro.prom
status=0
cli "$folder" tamro-cli-demo health --metrics "$metrics" || status=$?
[ "$status" -eq 2 ] || fail "tamro-cli-demo health exited $status, not 2: $(cat "$cli_out/stderr")"
promtool check metrics <"$metrics" || fail "tamro-cli-demo health: promtool refuses the metrics"
grep -q '^tamro_drive_grown_defects{' "$metrics" || fail "tamro-cli-demo health: no grown defects in the metrics"
systemd-analyze verify /usr/lib/systemd/system/tamro-health.service /usr/lib/systemd/system/tamro-health.timer ||
  fail "the health timer's units do not verify"
systemctl is-enabled tamro-health.timer >/dev/null 2>&1 && fail "the health timer is enabled by the package"
echo "tamro-cli-demo health: $(grep -c '^tamro_' "$metrics") series, promtool and systemd-analyze pass"

for page in tamro tamro-demo tamro-cli tamro-cli-demo; do
  man -l "/usr/share/man/man1/$page.1.gz" >/dev/null
done
echo "package check: passed"
echo "ran: $(basename "$deb") built, validated, installed, both installed programs and both command lines started" >"$build/package-check.txt"
