#!/usr/bin/env bash
# Formats the project's C and C++ sources with clang-format (.clang-format).
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  changes nothing; fails when a file is not formatted
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(-i)
[ "${1:-}" = "--check" ] && mode=(--dry-run -Werror)
git ls-files '*.cpp' '*.h' '*.c' | xargs -r clang-format --style=file "${mode[@]}"
