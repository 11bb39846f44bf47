#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Runs the tests of one architecture's default build folder, which the
# test command has built and packaged: the suite, which runs the real
# install.exe files under Wine, and the package check. Nothing that the
# suite started may outlive it, passed or failed.
#   usage: suite_check.sh <x86|x64|arm64>
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine-prefix.sh

case ${1:-} in
x86 | x64 | arm64) ;;
*)
  echo "usage: suite_check.sh <x86|x64|arm64>" >&2
  exit 2
  ;;
esac
status=0
ctest --preset "windows-$1" || status=$?
require_wine_ended "build/windows-$1" || status=1
exit "$status"
