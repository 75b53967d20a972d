#!/usr/bin/env bash
# Builds every libFuzzer target with clang (ASan + UBSan, in build-fuzz/: the
# preset fuzz of CMakePresets.json) and runs each for a fixed time on a corpus
# seeded by its seed writer.
#   scripts/fuzz.sh [seconds-per-target] [target...]   default 60; all targets
# Fails on the first finding; the reproducer is left in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: bash scripts/fuzz.sh [SECONDS [TARGET...]]"
for a in "$@"; do
  case "$a" in
    -h | --help)
      cat <<TEXT
$usage

Builds every libFuzzer target with clang (ASan + UBSan, in build-fuzz/: the
preset fuzz) and runs each for SECONDS (default 60) on a corpus seeded by its
seed writer, or only the TARGETs named (build-fuzz/fuzz_targets.txt lists
them).  Stops at the first finding; its reproducer is left in build-fuzz/.
  -h, --help  this text

Exit status: 0 when no target found anything, 2 for an unknown option or a
SECONDS that is not a whole number, else that of the failing build or target.
TEXT
      exit 0
      ;;
    -*)
      echo "fuzz.sh: unknown option $a" >&2
      echo "$usage   (--help tells more)" >&2
      exit 2
      ;;
  esac
done
if (($#)) && [[ ! "$1" =~ ^[0-9]+$ ]]; then
  echo "fuzz.sh: SECONDS is a whole number, not \"$1\"" >&2
  echo "$usage   (--help tells more)" >&2
  exit 2
fi
bash scripts/setup.sh
seconds=${1:-60}
shift || true
out=build-fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)"
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
