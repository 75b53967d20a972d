#!/usr/bin/env bash
# Formats the project's C and C++ sources with clang-format (.clang-format), the
# version scripts/setup.sh names and installs.
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  changes nothing; fails when a file is not formatted
set -euo pipefail
cd "$(dirname "$0")/.."
clang_format=$(bash scripts/setup.sh --clang-format)
if ! command -v "$clang_format" >/dev/null; then
  echo "format.sh: $clang_format is not installed (bash scripts/setup.sh installs it)" >&2
  exit 1
fi
mode=(-i)
[ "${1:-}" = "--check" ] && mode=(--dry-run -Werror)
git ls-files '*.cpp' '*.h' '*.c' | xargs -r "$clang_format" --style=file "${mode[@]}"
