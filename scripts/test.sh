#!/usr/bin/env bash
# Builds the unit and its tests (warnings are errors) and runs them, each
# build as its preset in CMakePresets.json makes it.
#   scripts/test.sh            normal build in build/ (preset default)
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/ (asan)
#   scripts/test.sh --tsan     ThreadSanitizer in build-tsan/ (tsan), the tests that start
#                              threads (CTest label "threads", tests/threads.cmake)
#   scripts/test.sh [--sanitize|--tsan] -R REGEX
#                              only the tests whose names match REGEX (ctest -R)
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: bash scripts/test.sh [--sanitize|--tsan] [-R REGEX]"
help() {
  cat <<TEXT
$usage

Builds the unit and its tests (warnings are errors) and runs them with ctest,
each build as its preset in CMakePresets.json makes it; packages are
installed first when missing (scripts/setup.sh).
  (no option)    normal build in build/ (preset default)
  --sanitize     AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/ (asan)
  --tsan         ThreadSanitizer in build-tsan/ (tsan): the tests that start threads
                 (CTest label "threads", tests/threads.cmake)
  -R REGEX       only the tests whose names match REGEX (ctest -R)
  -h, --help     this text

Exit status: 0 when every test passes, 2 for an unknown option or one without
its value, else that of the failing build or ctest.
TEXT
}
refuse() {
  echo "test.sh: $1" >&2
  echo "$usage   (--help tells more)" >&2
  exit 2
}
preset=default; filter=()
while (($#)); do
  case "$1" in
    --sanitize) preset=asan ;;
    --tsan) preset=tsan ;;
    -R)
      (($# >= 2)) || refuse "-R needs a value (a regular expression)"
      filter=(-R "$2")
      shift
      ;;
    -h | --help)
      help
      exit 0
      ;;
    *) refuse "unknown option $1" ;;
  esac
  shift
done
case "$preset" in
  asan)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
    ;;
  tsan)
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
    ;;
esac
bash scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j"$(nproc)"
ctest --preset "$preset" -j"$(nproc)" "${filter[@]}"
