#!/usr/bin/env bash
# Builds every libFuzzer target with clang (ASan + UBSan, in build-fuzz/) and
# runs each for a fixed time on a corpus seeded by its seed writer.
#   scripts/fuzz.sh [seconds-per-target] [target...]   default 60; all targets
# Fails on the first finding; the reproducer is left in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
seconds=${1:-60}
shift || true
out=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUNIT_BUILD_FUZZ=ON \
  -DUNIT_BUILD_TESTS=OFF -DUNIT_BUILD_BENCH=OFF >/dev/null
cmake --build "$out" -j"$(nproc)" --target unit_fuzz_all
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
while read -r name dict; do
  [ -n "$name" ] || continue
  if (($#)) && [[ " $* " != *" $name "* ]]; then continue; fi
  corpus="$out/corpus/$name"
  mkdir -p "$corpus"
  "$out/fuzz-bin/${name}_seeds" "$corpus"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512
        -print_final_stats=1 -artifact_prefix="$out/$name-")
  [ -n "$dict" ] && args+=(-dict="$dict")
  echo "== $name ($seconds s)"
  "$out/fuzz-bin/$name" "${args[@]}" "$corpus"
done < "$out/fuzz_targets.txt"
