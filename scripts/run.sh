#!/usr/bin/env bash
# The main job: builds the unit, its archive and the host program in build/
# and runs the vessel in Co-Simulation from 0 to 10 s, printing the trajectory
# as CSV (time, level, outflow) on stdout and nothing else there.  Set-up and
# build output go to build/run.log; stderr gets one short line per phase and,
# when a phase fails, the end of the log.  Further arguments go to fmuhost and
# override the defaults, e.g.
#   bash scripts/run.sh --mode me                 Model Exchange, the host's RK4
#   bash scripts/run.sh --set initialLevel=2 --input 0.3 --vars 'der(level),g'
#   bash scripts/run.sh other.fmu --stop 2        another archive instead of the vessel's
set -euo pipefail
cd "$(dirname "$0")/.."
log=build/run.log
mkdir -p build
: >"$log"

fail() {
  echo "run.sh: $1 failed; the end of $log:" >&2
  tail -n 20 "$log" >&2
  exit 1
}

missing=$(bash scripts/setup.sh --missing)
if [ -n "$missing" ]; then
  echo "installing packages (first run only, about a minute; output in $log)..." >&2
  bash scripts/setup.sh >>"$log" 2>&1 || fail "installing the packages"
fi
if [ ! -f build/CMakeCache.txt ]; then
  echo "configuring the build (output in $log)..." >&2
  # The tests' build (preset default), but a warning does not stop the main job.
  cmake --preset default -DUNIT_WERROR=OFF >>"$log" 2>&1 || fail "configuring"
fi
echo "building the unit, its archive and fmuhost (output in $log)..." >&2
cmake --build build -j"$(nproc)" --target vornwin3264_fmu fmuhost >>"$log" 2>&1 ||
  fail "the build"

# The vessel's archive only when the arguments name none.  An option whose
# value is missing names none either: fmuhost then says which option lacks it.
with_values=" --mode --stop --step --interval --set --input --vars "
archive=build/vornwin3264.fmu
args=("$@")
for ((i = 0; i < ${#args[@]}; ++i)); do
  a=${args[i]}
  if [[ "$with_values" == *" $a "* ]]; then
    if ((i + 1 >= ${#args[@]})); then archive=; fi
    ((++i))
  elif [[ "$a" != -* ]]; then
    archive=
  fi
done
exec build/tools/fmuhost --mode cs --stop 10 --step 0.01 --interval 0.5 "$@" ${archive:+"$archive"}
