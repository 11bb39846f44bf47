#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Builds an arm64 folder, then moves the arm64 runtime elsewhere, as a new
# key does (a recipe edit, or a cleared cache), and re-configures and
# rebuilds the same folder: nothing of the old runtime's path may linger.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly WORK=$PWD/build/reconfigure
rm -rf "$WORK"
mkdir -p "$WORK/before" "$WORK/after"
runtime=$(sh cmake/arm64-runtime.sh)
cp -a "$runtime" "$WORK/before/"
INSTALLER_RUNTIME_CACHE="$WORK/before" cmake --preset windows-arm64 \
  -B "$WORK/build" -DBUILD_TESTING=OFF >/dev/null
INSTALLER_RUNTIME_CACHE="$WORK/before" cmake --build "$WORK/build" >/dev/null
mv "$WORK/before/$(basename "$runtime")" "$WORK/after/"
INSTALLER_RUNTIME_CACHE="$WORK/after" cmake --preset windows-arm64 \
  -B "$WORK/build" >/dev/null
if ! output=$(INSTALLER_RUNTIME_CACHE="$WORK/after" \
  cmake --build "$WORK/build" --clean-first 2>&1); then
  echo "$output" | tail -n 20
  echo "the re-configured arm64 folder does not build"
  exit 1
fi
echo "re-configured and rebuilt after the runtime moved"
rm -rf "$WORK"
