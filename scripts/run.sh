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
# Paths on the command line are read from the folder it is started in; the
# build is the project's build/ wherever that is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
log=$build/run.log

help() {
  cat <<'TEXT'
usage: bash scripts/run.sh [fmuhost options] [unit.fmu]

Builds the unit, its archive build/vornwin3264.fmu and the host program
build/tools/fmuhost in the project's build/ (packages installed on the first
run), then runs fmuhost and prints the trajectory as CSV on stdout, nothing
else there.  The defaults --mode cs --stop 10 --step 0.01 --interval 0.5 come
first, so the options given override them; the vessel's archive is run when
the arguments name none.  Paths are read from the folder the command is
started in.  Set-up and build output go to build/run.log; stderr shows one
line per phase and, when a phase fails, the end of the log.

Options: those of fmuhost (below), checked before anything is built: an
unknown option, or one without its value, is refused with its name and exit
status 2.
  -h, --help  this text, then fmuhost's own (once it is built)

Exit status: fmuhost's; 1 also when the set-up or the build fails.
TEXT
  if [ -x "$build/tools/fmuhost" ]; then
    echo
    echo "fmuhost (build/tools/fmuhost --help):"
    "$build/tools/fmuhost" --help
  else
    echo
    echo "fmuhost is not built yet: its options are at build/tools/fmuhost --help after the first run."
  fi
}

refuse() {
  echo "run.sh: $1" >&2
  echo "usage: bash scripts/run.sh [fmuhost options] [unit.fmu]   (--help tells more)" >&2
  exit 2
}

# The options, checked before anything is built.  The vessel's archive only
# when the arguments name none.
with_values=" --mode --stop --step --interval --set --input --vars "
archive=$build/vornwin3264.fmu
args=("$@")
for ((i = 0; i < ${#args[@]}; ++i)); do
  a=${args[i]}
  if [[ "$with_values" == *" $a "* ]]; then
    ((i + 1 < ${#args[@]})) || refuse "$a needs a value"
    ((++i))
  elif [ "$a" = --help ] || [ "$a" = -h ]; then
    help
    exit 0
  elif [ "$a" = --log ]; then
    :
  elif [[ "$a" == -* ]]; then
    refuse "unknown option $a"
  else
    archive=
  fi
done

mkdir -p "$build"
: >"$log"

fail() {
  echo "run.sh: $1 failed; the end of $log:" >&2
  tail -n 20 "$log" >&2
  exit 1
}

missing=$(bash "$root/scripts/setup.sh" --missing)
if [ -n "$missing" ]; then
  echo "installing packages (first run only, about a minute; output in $log)..." >&2
  bash "$root/scripts/setup.sh" >>"$log" 2>&1 || fail "installing the packages"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "configuring the build (output in $log)..." >&2
  # The tests' build (preset default), but a warning does not stop the main job.
  (cd "$root" && cmake --preset default -DUNIT_WERROR=OFF) >>"$log" 2>&1 || fail "configuring"
fi
echo "building the unit, its archive and fmuhost (output in $log)..." >&2
cmake --build "$build" -j"$(nproc)" --target vornwin3264_fmu fmuhost >>"$log" 2>&1 ||
  fail "the build"

exec "$build/tools/fmuhost" --mode cs --stop 10 --step 0.01 --interval 0.5 "$@" ${archive:+"$archive"}
