#!/usr/bin/env bash
# Fuzzes the serializer's image loading (bim_load from memory, bim_unpack and
# the memory gather) with clang's libFuzzer under ASan and UBSan.
#   scripts/fuzz-bim.sh [seconds]     default 60; fails on any finding
# Builds standalone in build-fuzz/ (BIM_FUZZ_DIR to change), seeds the corpus
# with valid images of the fuzzed maps, then runs for the given time.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=${BIM_FUZZ_DIR:-build-fuzz}
cxx=${CXX_FUZZ:-clang++}
mkdir -p "$out/corpus"
flags=(-std=c++20 -O1 -g -I. -Wall -Wextra -fno-omit-frame-pointer)
"$cxx" "${flags[@]}" -DBIM_FUZZ_SEEDS fuzz/bim_load_fuzz.cpp bim/*.cpp -o "$out/bim_seeds"
"$out/bim_seeds" "$out/corpus"
"$cxx" "${flags[@]}" -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
  fuzz/bim_load_fuzz.cpp bim/*.cpp -o "$out/bim_load_fuzz"
# rss and malloc limits make memory exhaustion a finding; a slow input too.
"$out/bim_load_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -malloc_limit_mb=512 -dict=fuzz/bim.dict -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus"
