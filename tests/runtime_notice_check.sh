#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# The runtime's notice that the packages carry is the file of the source of
# the runtime version linked, which the arm64 runtime's build keeps, and
# cmake/runtime-notices.txt, which the x86 and x64 builds go by, records
# that source's notice.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly NOTICE=packaging/COPYING.MinGW-w64-runtime.txt
runtime=$(sh cmake/arm64-runtime.sh)
version=$(dpkg-query -W -f='${Version}' mingw-w64-common)
cmp "$NOTICE" "$runtime/COPYING.MinGW-w64-runtime.txt"
recorded=$(awk -v version="$version" '$1 == version { print $2 }' \
  cmake/runtime-notices.txt)
if [ "$recorded" != "$(sha256sum <"$NOTICE" | cut -d' ' -f1)" ]; then
  echo "cmake/runtime-notices.txt records ${recorded:-nothing} for" \
    "mingw-w64 $version, not the SHA-256 of its notice"
  exit 1
fi
echo "$NOTICE is the notice of $(tr '\n' ' ' <"$runtime/origin.txt" |
  sed 's/ *$//'), as cmake/runtime-notices.txt records"
