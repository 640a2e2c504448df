#!/usr/bin/env bash
# The set-up scripts' apt-get helper against a stand-in apt-get whose
# failures are scripted: a mirror in sync is waited out, a lasting failure
# still fails, and nothing is fetched when all is installed.
set -euo pipefail
helper=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# apt-get: fails "update" as many times as update-fails says, "install" as
# many times as install-fails says; every call goes into calls.
cat > "$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
echo "$1" >> "$WORK/calls"
left=$(cat "$WORK/$1-fails" 2>/dev/null || echo 0)
[ "$left" -gt 0 ] || exit 0
echo $(( left - 1 )) > "$WORK/$1-fails"
exit 100
STUB
# dpkg-query: only the packages named in installed are installed.
cat > "$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
grep -qx "${!#}" "$WORK/installed" && echo "install ok installed"
STUB
chmod +x "$work/bin/"*
export WORK=$work PATH=$work/bin:$PATH TAMRO_APT_PAUSE=0

fail() { echo "FAIL: $*" >&2; exit 1; }
run() {  # run <update-fails> <install-fails> <installed> <packages...>: the calls made
  echo "$1" > "$work/update-fails"; echo "$2" > "$work/install-fails"
  printf '%s\n' $3 > "$work/installed"; : > "$work/calls"
  shift 3
  (source "$helper" && apt_install_missing "$@") 2> "$work/stderr"
}
calls() { tr '\n' ' ' < "$work/calls"; }

run 2 0 "" a b || fail "two failed updates ended the install"
[ "$(calls)" = "update update update install " ] || fail "calls after two failed updates: $(calls)"

run 9 0 "" a || fail "an index that never comes ended the install"
[ "$(calls)" = "update update update install " ] || fail "calls with no index: $(calls)"
grep -q "going on with the package lists" "$work/stderr" || fail "no word that old lists serve"

run 0 1 "" a || fail "one failed install was not tried again"
[ "$(calls)" = "update install update install " ] || fail "calls after a failed install: $(calls)"

if run 0 9 "" a; then fail "a lasting failure was reported as success"; fi
grep -q "could not install a" "$work/stderr" || fail "no word of what could not be installed"

run 9 9 "a b" a b || fail "nothing to install failed"
[ -z "$(calls)" ] || fail "apt-get called with all installed: $(calls)"
echo "apt helper: all cases as expected"
