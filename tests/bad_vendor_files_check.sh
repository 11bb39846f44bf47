#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# A vendor file's bad declarations stop configure, each with a line that
# names the value and the rule it breaks, and nothing is generated. Each
# row is a fragment of the expected line and the file's builds, or with a
# leading { the whole file.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly GOOD_ID='"hardware_id": "ACME\\WIDGET"'
readonly GOOD_DESCRIPTION='"description": "Widget"'
readonly BAD_VENDOR_FILES=(
  "declares no build|[]"
  "a hardware ID is empty|[{\"folder\": \"w\", \"hardware_id\": \"\", $GOOD_DESCRIPTION}]"
  "more than the 200|[{\"folder\": \"w\", \"hardware_id\": \"$(printf 'A%.0s' {1..201})\", $GOOD_DESCRIPTION}]"
  "holds a space, a comma|[{\"folder\": \"w\", \"hardware_id\": \"ACME WIDGET\", $GOOD_DESCRIPTION}]"
  "holds a space, a comma|[{\"folder\": \"w\", \"hardware_id\": \"ACME,WIDGET\", $GOOD_DESCRIPTION}]"
  "outside printable ASCII|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\\\WIDGÉT\", $GOOD_DESCRIPTION}]"
  "reserves for a device|[{\"folder\": \"con\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "reserves for a device|[{\"folder\": \"LPT1.txt\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "which Windows does not take in a name|[{\"folder\": \"a/b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "which Windows does not take in a name|[{\"folder\": \"a\\\\b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "ends in a dot or a space|[{\"folder\": \"widget.\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "ends in a dot or a space|[{\"folder\": \"widget \", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "is another build's too|[{\"folder\": \"Widget\", $GOOD_ID, $GOOD_DESCRIPTION}, {\"folder\": \"widget\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "has an empty description|[{\"folder\": \"w\", $GOOD_ID, \"description\": \"\"}]"
  "holds a control character|{\"company\": \"Zorq\\u0007\"}"
  "holds a control character|[{\"folder\": \"w\\tx\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "written singly|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\WIDGET\", $GOOD_DESCRIPTION}]"
  "Missing ',' or '}'|[{\"folder\": \"w\" $GOOD_ID, $GOOD_DESCRIPTION}]"
  "both \"hardware_id\" and \"hardware_ids\"|[{\"folder\": \"w\", $GOOD_ID, \"hardware_ids\": [\"ACME\\\\A\"], $GOOD_DESCRIPTION}]"
  "\"hardware_ids\" is empty|[{\"folder\": \"w\", \"hardware_ids\": [], $GOOD_DESCRIPTION}]"
  "declares 33 hardware IDs, more than 32|[{\"folder\": \"w\", \"hardware_ids\": [$(printf '"ACME\\\\W%s",' {1..32}) \"ACME\\\\W33\"], $GOOD_DESCRIPTION}]"
  "twice: Windows does not tell hardware IDs apart by case|[{\"folder\": \"w\", \"hardware_ids\": [\"ACME\\\\W\", \"ACME\\\\X\", \"acme\\\\w\"], $GOOD_DESCRIPTION}]"
  "a hardware ID is a NUMBER, not a string|[{\"folder\": \"w\", \"hardware_ids\": [1], $GOOD_DESCRIPTION}]"
  "\"stage\" is a STRING, not true or false|[{\"folder\": \"w\", $GOOD_ID, \"stage\": \"yes\", $GOOD_DESCRIPTION}]"
  "holds a double quote or a semicolon|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\\\W\\\"X\", $GOOD_DESCRIPTION}]"
  "holds a double quote or a semicolon|[{\"folder\": \"w\", \"hardware_id\": \"ACME\\\\W;X\", $GOOD_DESCRIPTION}]"
  "holds a semicolon or a comma|[{\"folder\": \"a;b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "holds a semicolon or a comma|[{\"folder\": \"a,b\", $GOOD_ID, $GOOD_DESCRIPTION}]"
  "\"folder\" is a ARRAY, not a string|[{\"folder\": [\"w\"], $GOOD_ID, $GOOD_DESCRIPTION}]"
  "has the key \"stgae\"|[{\"folder\": \"w\", $GOOD_ID, \"stgae\": true, $GOOD_DESCRIPTION}]"
  "has the key \"versoin\"|{\"versoin\": \"1.2.3\"}"
  "is not MAJOR.MINOR.PATCH|{\"version\": \"1.2\"}"
  "is not MAJOR.MINOR.PATCH|{\"version\": \"1.2.65536\"}"
  "is not MAJOR.MINOR.PATCH|{\"version\": \"1.02.3\"}"
)

readonly WORK=build/vendor-files
failed=0
rm -rf "$WORK"
mkdir -p "$WORK"
for row in "${BAD_VENDOR_FILES[@]}"; do
  expected=${row%%|*}
  builds=${row#*|}
  if [ "${builds:0:1}" = "{" ]; then
    printf '%s\n' "$builds" >"$WORK/vendor.json"
  else
    printf '{"builds": %s}\n' "$builds" >"$WORK/vendor.json"
  fi
  if output=$(cmake --preset windows-x64 -B "$WORK/build" \
    "-DINSTALLER_VENDOR_FILE=$PWD/$WORK/vendor.json" 2>&1) ||
    ! grep -qF -- "$expected" <<<"$output" ||
    { [ "$expected" != "written singly" ] &&
      grep -qF "written singly" <<<"$output"; } ||
    [ -e "$WORK/build/build.ninja" ]; then
    echo "FAIL: $builds: $output"
    failed=1
  else
    echo "refused: $(grep -F -- "$expected" <<<"$output" | sed 's/^ *//')"
  fi
done
if [ "$failed" -eq 0 ]; then
  rm -rf "$WORK"
fi
exit "$failed"
