#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Checks each given package's bill of materials against the CycloneDX 1.6
# JSON schema with CycloneDX's own library, installed as the lock file pins
# it, by tests/validate_bill.js.
#   usage: bill_schema_check.sh <package.zip>...
set -euo pipefail
cd "$(dirname "$0")/.."

readonly VALIDATOR=build/bill-validator
readonly BILL=sbom.cdx.json

if [ "$#" -eq 0 ]; then
  echo "usage: bill_schema_check.sh <package.zip>..." >&2
  exit 2
fi
mkdir -p "$VALIDATOR"
cp tests/package.json tests/package-lock.json tests/validate_bill.js "$VALIDATOR/"
if ! (cd "$VALIDATOR" && npm ci --omit=optional --ignore-scripts \
  --no-audit --no-fund >npm.log 2>&1); then
  tail -n 20 "$VALIDATOR/npm.log"
  echo "npm ci failed; its output is in $VALIDATOR/npm.log"
  exit 1
fi
for package in "$@"; do
  unpacked=$VALIDATOR/unpacked
  rm -rf "$unpacked"
  /usr/bin/python3 -m zipfile -e "$package" "$unpacked"
  (cd "$VALIDATOR" && node validate_bill.js) <"$unpacked/$BILL"
  echo "$package: $BILL is valid CycloneDX 1.6"
done
rm -rf "$VALIDATOR/unpacked"
