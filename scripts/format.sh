#!/usr/bin/env bash
# Formats the project's C and C++ sources with clang-format (.clang-format), the
# version scripts/setup.sh names and installs.
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  changes nothing; fails when a file is not formatted
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: bash scripts/format.sh [--check]"
check=false
for a in "$@"; do
  case "$a" in
    --check) check=true ;;
    -h | --help)
      cat <<TEXT
$usage

Formats the project's C and C++ sources (the files git knows) with
clang-format and .clang-format, the version scripts/setup.sh names.
  --check     changes nothing; fails (status 1) when a file is not formatted
  -h, --help  this text

Exit status: 0 when done (or, with --check, every file is formatted), 1 when a
file is not formatted or clang-format is missing, 2 for an unknown option.
TEXT
      exit 0
      ;;
    *)
      echo "format.sh: unknown option $a" >&2
      echo "$usage   (--help tells more)" >&2
      exit 2
      ;;
  esac
done
clang_format=$(bash scripts/setup.sh --clang-format)
if ! command -v "$clang_format" >/dev/null; then
  echo "format.sh: $clang_format is not installed (bash scripts/setup.sh installs it)" >&2
  exit 1
fi
mode=(-i)
"$check" && mode=(--dry-run -Werror)
git ls-files '*.cpp' '*.h' '*.c' | xargs -r "$clang_format" --style=file "${mode[@]}"
