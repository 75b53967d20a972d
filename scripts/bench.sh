#!/usr/bin/env bash
# Builds the benchmarks in build-bench/ (Release) and runs them: the
# integrator on its test problems, a Co-Simulation run of the vessel and the
# cost of instances and FMU states through the shared library.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DUNIT_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target integrator_bench cosim_bench matfile_bench arrays_bench \
  arrays_matrix_bench instance_bench
build-bench/bench/integrator_bench
# The Co-Simulation goals hold pinned to one core (taskset), and as instructions.
$(command -v taskset >/dev/null && echo taskset -c 1) build-bench/bench/cosim_bench
bash scripts/bench-callgrind.sh build-bench/bench/cosim_bench
build-bench/bench/matfile_bench
build-bench/bench/arrays_bench
build-bench/bench/arrays_matrix_bench
build-bench/bench/instance_bench
