#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# clang-tidy, the analyser of the LLVM that builds the programs, over every
# C++ program of the tree, on the x86 build's compile commands, which name
# the target and its sysroot. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/cpp_sources.sh

if ! output=$(clang-tidy-19 -p "$ANALYSED_BUILD" --quiet \
  "${CPP_SOURCES[@]}" 2>&1); then
  echo "$output" | grep -v "warnings generated\.$"
  exit 1
fi
echo "clang-tidy: no findings"
