#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Builds one architecture's deliverables, test programs and package from a
# fresh configure, and runs its tests: the suite, which runs the real
# install.exe files under Wine, and the package check. Nothing that the
# suite started may outlive it, passed or failed.
#   usage: workflow_check.sh <x86|x64|arm64>
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine-prefix.sh

case ${1:-} in
x86 | x64 | arm64) ;;
*)
  echo "usage: workflow_check.sh <x86|x64|arm64>" >&2
  exit 2
  ;;
esac
status=0
cmake --workflow --preset "windows-$1" --fresh || status=$?
require_wine_ended "build/windows-$1" || status=1
exit "$status"
