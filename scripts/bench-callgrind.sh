#!/usr/bin/env bash
# Instructions per fmi2DoStep: callgrind counts what the unit executes inside
# fmi2DoStep during the Co-Simulation benchmark's 10 s runs (communication
# steps of 10 ms and 1 ms, logging off) and divides by the number of steps.
# Below each total stand the functions that take 10 or more of them (their
# own instructions per step); the total for steps of 10 ms says whether it
# meets the goal of at most 1000.  Skipped when valgrind is not installed.
#   scripts/bench-callgrind.sh [path of cosim_bench]   (default build-bench/bench/cosim_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: bash scripts/bench-callgrind.sh [path of cosim_bench]"
case "${1:-}" in
  -h | --help)
    cat <<TEXT
$usage

Counts with callgrind the instructions the unit executes inside fmi2DoStep
during the Co-Simulation benchmark's 10 s runs (communication steps of 10 ms
and 1 ms) and prints them per step, with the functions that take 10 or more
of them; for steps of 10 ms it says whether the goal of at most 1000 is met.
The benchmark is build-bench/bench/cosim_bench unless named (bash
scripts/bench.sh builds it).  Prints one line and does nothing else when
valgrind is not installed.
  -h, --help  this text

Exit status: 0 when counted (or valgrind is missing), 2 for an unknown option
or more than one argument, 1 when the benchmark fails under valgrind.
TEXT
    exit 0
    ;;
  -*)
    echo "bench-callgrind.sh: unknown option $1" >&2
    echo "$usage   (--help tells more)" >&2
    exit 2
    ;;
esac
if (($# > 1)); then
  echo "bench-callgrind.sh: one argument at most, not also $2" >&2
  echo "$usage   (--help tells more)" >&2
  exit 2
fi
bench=${1:-build-bench/bench/cosim_bench}
if ! command -v valgrind >/dev/null; then
  echo "callgrind: valgrind is not installed, no instruction counts"
  exit 0
fi
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
echo "Instructions per fmi2DoStep (callgrind)"
for step in 0.01 0.001; do
  file="$out/cosim-$step.out"
  valgrind --tool=callgrind --toggle-collect=fmi2DoStep --callgrind-out-file="$file" \
    "$bench" --run-steps="$step" >"$out/valgrind.log" 2>&1 || {
    cat "$out/valgrind.log" >&2
    exit 1
  }
  steps=$(awk -v s="$step" 'BEGIN { printf "%d", 10 / s + 0.5 }')
  total=$(awk '/^totals:/ { print $2 }' "$file")
  # The goal, for steps of 10 ms: at most 1000 instructions per step.
  awk -v t="$total" -v n="$steps" -v s="$step" \
    'BEGIN {
      printf "  step %s s: %.0f instructions per fmi2DoStep (%d steps)", s, t / n, n
      if (s == 0.01) printf " (goal <= 1000: %s)", int(t / n + 0.5) <= 1000 ? "met" : "not met"
      printf "\n"
    }'
  callgrind_annotate --auto=no --threshold=95 "$file" 2>/dev/null |
    awk -v n="$steps" '
      /^-+$/ { rule++; next }
      rule >= 4 && $1 ~ /^[0-9,]+$/ && !/PROGRAM TOTALS/ {
        count = $1; gsub(",", "", count)
        if (count / n < 10) next
        name = $0; sub(/^ *[0-9,]+ +\([^)]*\) +/, "", name)
        sub(/ \[[^]]*\]$/, "", name); sub(/^[^:]*:/, "", name)
        gsub(/\(anonymous namespace\)::/, "", name); sub(/\(.*$/, "", name)
        printf "    %6.0f  %s\n", count / n, name
      }'
done
