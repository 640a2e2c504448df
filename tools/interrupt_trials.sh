#!/usr/bin/env bash
# Interrupts tamro-cli runs at random moments and checks what each leaves:
# the exit status the JSON says, a JSON that the schema accepts, no ".part"
# file and no empty log, and (for a ThreadSanitizer build) no race report.
# Usage: tools/interrupt_trials.sh [tamro-cli] [trials] [longest delay in ms]
set -uo pipefail
cd "$(dirname "$0")/.."
cli=${1:-build/bin/tamro-cli}
trials=${2:-100}
longest=${3:-8000}
schema=docs/results.schema.json
validator=tests/cli/validate_results.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

bad=0
declare -A outcomes
for ((t = 1; t <= trials; t++)); do
  dir=$work/$t
  mkdir -p "$dir"
  delay=$((RANDOM % longest))
  TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=0} "$cli" run --mode standard --logs "$dir" --json "$dir/r.json" \
    >"$dir/out" 2>"$dir/err" &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
  kill -INT "$pid" 2>/dev/null
  wait "$pid"
  status=$?
  problem=""
  [ -n "$(find "$dir" -name '*.part')" ] && problem+=" .part left;"
  [ -n "$(find "$dir" -name '*.log' -empty)" ] && problem+=" empty log;"
  grep -q "ThreadSanitizer\|AddressSanitizer\|runtime error" "$dir/err" && problem+=" sanitizer report;"
  if [ -f "$dir/r.json" ]; then
    said=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["exitStatus"])' "$dir/r.json")
    [ "$said" = "$status" ] || problem+=" JSON says $said, exit $status;"
    python3 "$validator" "$schema" "$dir/r.json" 2>>"$dir/err" || problem+=" JSON invalid;"
  else
    problem+=" no JSON;"
  fi
  case $status in 130 | 1) ;; *) problem+=" exit $status;" ;; esac
  outcomes[$status]=$((${outcomes[$status]:-0} + 1))
  if [ -n "$problem" ]; then
    bad=$((bad + 1))
    echo "trial $t (SIGINT after ${delay} ms):$problem" >&2
    cp -r "$dir" "/tmp/interrupt-trial-$t" && echo "  kept in /tmp/interrupt-trial-$t" >&2
  fi
done
summary=""
for s in "${!outcomes[@]}"; do summary+=" exit $s: ${outcomes[$s]};"; done
echo "interrupt trials: $trials, at 0-$longest ms;$summary with a problem: $bad"
[ "$bad" -eq 0 ]
