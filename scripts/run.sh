#!/usr/bin/env bash
# The main job: builds the unit and its host program in build/ and runs the
# vessel in Co-Simulation from 0 to 10 s, printing the trajectory as CSV
# (time, level, outflow).  Further arguments go to fmuhost and override the
# defaults, e.g.
#   bash scripts/run.sh --mode me                 Model Exchange, the host's RK4
#   bash scripts/run.sh --set initialLevel=2 --input 0.3 --vars der(level)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
exec build/tools/fmuhost --mode cs --stop 10 --step 0.01 --interval 0.5 "$@" build/vornwin3264.fmu
