#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the host program need.
# Does nothing when they are all present already.
#   scripts/setup.sh            install what is missing (apt-get, with sudo when not root)
#   scripts/setup.sh --missing  only print the missing packages, one line (empty when none)
#   scripts/setup.sh --clang-format  only print the clang-format that formats the sources
set -euo pipefail
usage="usage: bash scripts/setup.sh [--missing|--clang-format]"
case "${1:-}" in
  "" | --missing | --clang-format) ;;
  -h | --help)
    cat <<TEXT
$usage

Installs the Debian packages the build, the tests and the host program need
(apt-get, with sudo when not run as root); does nothing when they are all
present.
  --missing       only print the missing packages, on one line (empty when none)
  --clang-format  only print the clang-format that formats the sources
  -h, --help      this text

Exit status: 0 when done, 2 for an unknown option, else that of apt-get.
TEXT
    exit 0
    ;;
  *)
    echo "setup.sh: unknown option $1" >&2
    echo "$usage   (--help tells more)" >&2
    exit 2
    ;;
esac
if (($# > 1)); then
  echo "setup.sh: one option at most, not also $2" >&2
  echo "$usage   (--help tells more)" >&2
  exit 2
fi
# The one clang-format version the sources are formatted with (scripts/format.sh
# runs it): another version lays some lines out otherwise.
clang_format=clang-format-14
if [ "${1:-}" = --clang-format ]; then
  echo "$clang_format"
  exit 0
fi
pkgs=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev liblapack-dev libblas-dev
      uthash-dev libzip-dev libpugixml-dev zip unzip locales clang libclang-rt-14-dev
      "$clang_format" python3 python3-scipy)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${1:-}" = --missing ]; then
  echo "${missing[*]}"
  exit 0
fi
if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
