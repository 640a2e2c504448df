#!/usr/bin/env bash
# The README's alert rule, as a Prometheus server would load it.
# Usage: readme_rules.sh README.md
set -euo pipefail
command -v promtool >/dev/null || { echo "promtool is not installed (Debian's prometheus)" >&2; exit 1; }
rules=$(mktemp --suffix=.yml)
trap 'rm -f "$rules"' EXIT
# The indented block from "    groups:" to the next unindented line.
awk '/^    groups:$/ {on = 1} on && /^[^ ]/ {exit} on {print substr($0, 5)}' "$1" >"$rules"
[ -s "$rules" ] || { echo "no alert rule found in $1" >&2; exit 1; }
promtool check rules "$rules"
