#!/usr/bin/env bash
# Builds the unit and its tests (warnings are errors) and runs them.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --tsan     ThreadSanitizer in build-tsan/, the tests that start
#                              threads (CTest label "threads", tests/threads.cmake)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=build; flags=(); select=()
case "${1:-}" in
  --sanitize)
    dir=build-asan; flags=(-DUNIT_SANITIZE=ON -DUNIT_BUILD_BENCH=OFF)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
    ;;
  --tsan)
    dir=build-tsan; flags=(-DUNIT_SANITIZE_THREAD=ON -DUNIT_BUILD_BENCH=OFF); select=(-L threads)
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
    ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--sanitize|--tsan]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNIT_WERROR=ON "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 300 "${select[@]}"
