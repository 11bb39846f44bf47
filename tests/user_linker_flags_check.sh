#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# A user's linker flags add to the toolchain's, which the link cannot do
# without: the x64 programs linked with a stack reserve given on the
# command line carry it (read from the first).
set -euo pipefail
cd "$(dirname "$0")/.."

readonly WORK=build/user-linker-flags
readonly USER_STACK_RESERVE=3145728
readonly READOBJ=/usr/lib/llvm-19/bin/llvm-readobj

rm -rf "$WORK"
cmake --preset windows-x64 -B "$WORK" -DBUILD_TESTING=OFF \
  "-DCMAKE_EXE_LINKER_FLAGS=-Wl,--stack,$USER_STACK_RESERVE" >/dev/null
if ! output=$(cmake --build "$WORK" 2>&1); then
  echo "$output" | tail -n 5
  echo "the program does not link with a user's CMAKE_EXE_LINKER_FLAGS"
  exit 1
fi
mapfile -t programs < <(/usr/bin/python3 cmake/build_tree.py programs "$WORK")
reserve=$("$READOBJ" --file-headers "$WORK/${programs[0]}" |
  awk '$1 == "SizeOfStackReserve:" { print $2 }')
if [ "$reserve" != "$USER_STACK_RESERVE" ]; then
  echo "linked with a stack reserve of ${reserve:-none}, not the" \
    "$USER_STACK_RESERVE that CMAKE_EXE_LINKER_FLAGS asked for"
  exit 1
fi
echo "-DCMAKE_EXE_LINKER_FLAGS=-Wl,--stack,$USER_STACK_RESERVE: linked," \
  "with the toolchain's own flags and that stack reserve"
rm -rf "$WORK"
