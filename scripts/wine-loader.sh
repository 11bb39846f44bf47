#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# How the suite runs one architecture's programs under Wine on this host:
# see wine_loader in common.sh.
#   wine-loader.sh <x86|x64|arm64> <build-dir>
#       prints the kind, the loader and the server, a line each; for arm64,
#       lets the kernel start aarch64 programs until it is released
#   wine-loader.sh --release arm64
#       takes that back
set -euo pipefail
source "$(dirname "$0")/common.sh"
if [ "$#" -eq 2 ] && [ "$1" = --release ]; then
  if [ "$2" = arm64 ]; then
    release_aarch64_programs
  fi
elif [ "$#" -eq 2 ]; then
  wine_loader "$1" "$2"
  if [ "$1" = arm64 ]; then
    register_aarch64_programs
  fi
else
  echo "usage: wine-loader.sh <x86|x64|arm64> <build-dir> | --release arm64" >&2
  exit 2
fi
