#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# How the suite runs one architecture's programs under Wine: see wine_loader
# in lib/wine-choice.sh.
#   wine-loader.sh <x86|x64|arm64>
#       prints the kind, the loader and the server, a line each; for arm64,
#       lets the kernel start aarch64 programs until it is released
#   wine-loader.sh --release <x86|x64|arm64>
#       takes that back
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/host.sh
source scripts/lib/apt.sh
source scripts/lib/wine-choice.sh
source scripts/lib/binfmt.sh

usage() {
  echo "usage: wine-loader.sh [--release] <x86|x64|arm64>" >&2
  exit 2
}

if [ "$#" -lt 1 ] || [ "$#" -gt 2 ]; then
  usage
fi
release=""
if [ "$1" = --release ]; then
  release=1
  shift
fi
[ "$#" -eq 1 ] || usage
case $1 in
x86 | x64 | arm64) ;;
*) usage ;;
esac
if [ -n "$release" ]; then
  [ "$1" != arm64 ] || release_aarch64_programs
else
  wine_loader "$1"
  [ "$1" != arm64 ] || register_aarch64_programs
fi
