#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# A build for a vendor's devices, from one of two vendor files, and its
# programs: the version information read back as the vendor file declares
# it, the suite under Wine with the default x64 programs run against its
# devices (which they must leave without a driver), and the package.
#   vendor_build_check.sh example
#       the vendor example of docs/building.md, run as the page shows it
#   vendor_build_check.sh product-line
#       the test command's own vendor file, tests/product-line.json, a
#       product line whose names, folders and IDs hold backslashes, quotes,
#       brackets and punctuation: configured from a copy, built, then the
#       copy edited (a hardware ID and the version) and built again with no
#       configure of its own, which must follow the edit
# Needs the default x64 build, build/windows-x64.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine-prefix.sh

readonly PYTHON=/usr/bin/python3 # Debian's, with python3-pefile
readonly DEFAULT_BUILD=build/windows-x64
readonly EXAMPLE_BUILD=build/zorq-x64
readonly EXAMPLE_MARKER="<!-- vendor example: the test command runs this block -->"
readonly PRODUCT_LINE_WORK=build/product-line
readonly PRODUCT_LINE_BUILD=build/product-line-x64

check_example() {
  local example
  example=$("$PYTHON" tests/documents.py block docs/building.md \
    "$EXAMPLE_MARKER")
  rm -rf build/zorq "$EXAMPLE_BUILD"
  bash -euo pipefail -c "$example" >/dev/null
  "$PYTHON" tests/vendor_read_back.py build/zorq/vendor.json "$EXAMPLE_BUILD"
  check_vendor_programs "$EXAMPLE_BUILD"
}

check_product_line() {
  local vendor=$PRODUCT_LINE_WORK/vendor.json output
  rm -rf "$PRODUCT_LINE_WORK" "$PRODUCT_LINE_BUILD"
  mkdir -p "$PRODUCT_LINE_WORK"
  cp tests/product-line.json "$vendor"
  cmake --preset windows-x64 -B "$PRODUCT_LINE_BUILD" \
    "-DINSTALLER_VENDOR_FILE=$PWD/$vendor" >/dev/null
  cmake --build "$PRODUCT_LINE_BUILD" >/dev/null
  sed -i 's/LINE&PID_0001/LINE\&PID_0011/; s/"2\.7\.13"/"2.7.14"/' "$vendor"
  output=$(cmake --build "$PRODUCT_LINE_BUILD" 2>&1)
  if ! "$PYTHON" tests/vendor_read_back.py "$vendor" "$PRODUCT_LINE_BUILD"; then
    echo "$output" | tail -n 5
    echo "an edited vendor file did not reach the build"
    return 1
  fi
  echo "an edited vendor file re-configured and rebuilt the folder"
  check_vendor_programs "$PRODUCT_LINE_BUILD"
}

# A vendor build folder's programs, once read back against the vendor file:
# the suite, and the package.
check_vendor_programs() {
  local folder=$1 status=0
  "$PYTHON" tests/wine_suite.py --build-dir "$folder" --source-dir . \
    --arch x64 --other-build-dir "$DEFAULT_BUILD" || status=$?
  require_wine_ended "$folder" || status=1
  [ "$status" -eq 0 ] || return "$status"
  (cd "$folder" && cpack >/dev/null)
  "$PYTHON" tests/package_check.py --build-dir "$folder" --source-dir .
}

case ${1:-} in
example) check_example ;;
product-line) check_product_line ;;
*)
  echo "usage: vendor_build_check.sh <example|product-line>" >&2
  exit 2
  ;;
esac
