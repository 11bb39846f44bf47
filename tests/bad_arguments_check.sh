#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# The scripts refuse bad arguments, with their usage and status 2, before
# they do anything, and no file of the tree goes missing. Each row is a
# script and its arguments, the last of them separated by |.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly BAD_ARGUMENTS=(
  "scripts/fresh-root-check.sh|../../installer"
  "scripts/fresh-root-check.sh|"
  "scripts/fresh-root-check.sh|.."
  "scripts/fresh-root-check.sh|stable x"
  "scripts/fresh-root-check.sh|-rf"
  "scripts/fresh-root-check.sh|stable|testing"
  "scripts/wine-loader.sh|x87"
  "scripts/wine-loader.sh|--release"
  "scripts/wine-loader.sh|x64|build"
  "scripts/test.sh|--jobs"
  "scripts/test.sh|--jobs|0"
  "scripts/test.sh|x86|no-such-stage"
  "tests/suite_check.sh|x87"
  "tests/vendor_build_check.sh|"
  "tests/bill_schema_check.sh"
)

failed=0
for row in "${BAD_ARGUMENTS[@]}"; do
  # The | added keeps a last, empty argument.
  IFS='|' read -r -a arguments <<<"$row|"
  status=0
  output=$("${arguments[@]}" 2>&1 </dev/null) || status=$?
  if [ "$status" -ne 2 ] || [ "${output%%:*}" != usage ]; then
    echo "FAIL: ${arguments[*]@Q}: status $status, output: $output"
    failed=1
  else
    echo "refused: ${arguments[*]@Q}"
  fi
done
if [ -n "$(git ls-files --deleted)" ]; then
  echo "FAIL: files of the tree are gone: $(git ls-files --deleted | head -n 5)"
  failed=1
fi
exit "$failed"
