#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Builds the deliverables and packages of every architecture a second time,
# in a folder at another path, and checks that they are byte-identical to
# the default builds' in build/windows-<architecture>.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly PYTHON=/usr/bin/python3 # Debian's, which the build uses too
readonly ARCHITECTURES=(x86 x64 arm64)

for arch in "${ARCHITECTURES[@]}"; do
  first="build/windows-$arch"
  second="build/rebuilt/elsewhere/windows-$arch"
  rm -rf "$second"
  cmake --preset "windows-$arch" -B "$second" -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$second" >/dev/null
  (cd "$second" && cpack >/dev/null)
  mapfile -t programs < <("$PYTHON" cmake/build_tree.py programs "$first")
  for file in "${programs[@]}" "$("$PYTHON" cmake/build_tree.py package "$first")"; do
    if ! cmp "$first/$file" "$second/$file"; then
      echo "$second/$file differs from $first/$file"
      exit 1
    fi
    echo "$(sha256sum "$first/$file" | cut -c1-16)...  $file: identical in $first and $second"
  done
done
