#!/usr/bin/env bash
# Builds the benchmarks in build-bench/ (Release, the preset bench of
# CMakePresets.json) and runs them: the integrator on its test problems, a
# Co-Simulation run of the vessel, matrix files beside SciPy, array operations
# beside plain loops, and the cost of instances and FMU states through the
# shared library beside memcpy, and fmuhost setting up a run of a unit with
# many outputs.
#
# The build and the benchmarks' own output go to build-bench/bench.log; each
# program's raw Google Benchmark results to build-bench/results/<program>.json.
# At the end one table (also build-bench/results/table.txt) shows each figure
# with its unit and, where a baseline is measured beside it, the ratio to it,
# and whether a goal is met where a row has one; then the instructions per
# fmi2DoStep counted by callgrind (results/callgrind.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: bash scripts/bench.sh"
if (($#)); then
  case "$1" in
    -h | --help)
      cat <<TEXT
$usage

Builds the benchmarks in build-bench/ (Release, the preset bench) and runs
them: the integrator on its test problems, Co-Simulation steps of the vessel
through the shared library, instance and FMU-state cost beside memcpy and
fmi2DoStep, matrix files beside SciPy, array operations beside plain loops,
fmuhost setting up a run of a unit with many outputs; then the instructions
per fmi2DoStep under callgrind, where valgrind is installed.  Packages are
installed first when missing (scripts/setup.sh).

Output: the build's and the benchmarks' own in build-bench/bench.log; each
program's Google Benchmark JSON in build-bench/results/<program>.json; on
stdout one table (also build-bench/results/table.txt: each figure, its ratio
to the baseline measured beside it where there is one, and whether a goal is
met where a row has one) and the instruction counts (also
build-bench/results/callgrind.txt).  Figures vary with the machine and its
load.
  -h, --help  this text (the script takes no other option)

Exit status: 0 when every benchmark ran, 2 for any argument but --help, 1 when
the set-up, the build or a benchmark fails.
TEXT
      exit 0
      ;;
    -*) echo "bench.sh: unknown option $1" >&2 ;;
    *) echo "bench.sh: takes no arguments, not $1" >&2 ;;
  esac
  echo "$usage   (--help tells more)" >&2
  exit 2
fi
log=build-bench/bench.log
results=build-bench/results
programs=(integrator_bench cosim_bench matfile_bench arrays_bench arrays_matrix_bench instance_bench
  fmuhost_bench)
mkdir -p "$results"
: >"$log"

fail() {
  echo "bench.sh: $1 failed; the end of $log:" >&2
  tail -n 20 "$log" >&2
  exit 1
}

if [ -n "$(bash scripts/setup.sh --missing)" ]; then
  echo "installing packages (first run only; output in $log)..." >&2
  bash scripts/setup.sh >>"$log" 2>&1 || fail "installing the packages"
fi
echo "building the benchmarks in build-bench/ (output in $log)..." >&2
{ cmake --preset bench &&
  cmake --build --preset bench -j"$(nproc)" --target "${programs[@]}"; } >>"$log" 2>&1 || fail "the build"
files=()
for p in "${programs[@]}"; do
  echo "running $p..." >&2
  rm -f "$results/$p.json"
  # The Co-Simulation goals hold pinned to one core (taskset).
  pin=()
  [ "$p" = cosim_bench ] && command -v taskset >/dev/null && pin=(taskset -c 1)
  "${pin[@]}" build-bench/bench/$p --benchmark_out="$results/$p.json" --benchmark_out_format=json \
    >>"$log" 2>&1 || fail "$p"
  files+=("$results/$p.json")
done
echo "raw results (Google Benchmark JSON): $results/<program>.json; the table: $results/table.txt" >&2
python3 scripts/bench_table.py "${files[@]}" | tee "$results/table.txt"
# Instructions per fmi2DoStep under callgrind (where valgrind is installed).
echo "counting instructions per fmi2DoStep (callgrind)..." >&2
bash scripts/bench-callgrind.sh build-bench/bench/cosim_bench 2>>"$log" | tee "$results/callgrind.txt" ||
  fail "the instruction count"
