#!/usr/bin/env bash
# Prints how Wine starts one architecture's programs on this host, for the
# suite: see wine_loader in common.sh.
#   usage: wine-loader.sh <x86|x64> <build-dir>
set -euo pipefail
source "$(dirname "$0")/common.sh"
if [ "$#" -ne 2 ]; then
  echo "usage: wine-loader.sh <x86|x64> <build-dir>" >&2
  exit 2
fi
wine_loader "$1" "$2"
