#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# cppcheck over the x86 build's compile commands: the product, the runtime,
# the test programs and the demo's. Any finding fails.
set -euo pipefail
cd "$(dirname "$0")/.."
source tests/cpp_sources.sh

# Later cppcheck versions follow only some branches unless told to follow
# all, and report that as a finding.
thoroughness=()
help=$(cppcheck --help) || true
if grep -q -- --check-level <<<"$help"; then
  thoroughness=(--check-level=exhaustive)
fi
cppcheck --platform=win32A --library=windows "${thoroughness[@]}" \
  --enable=warning,portability,performance --inline-suppr \
  --error-exitcode=1 --quiet \
  --project="$ANALYSED_BUILD/compile_commands.json"
echo "cppcheck: no findings"
