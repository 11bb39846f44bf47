#!/usr/bin/env bash
# Builds both deliverables and the test programs, runs the suite, which runs
# the real install.exe files under Wine, and then the static analysers. Any
# failure or finding fails the command.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh

readonly BUILD_DIR=build/windows-x86
# Every C++ program of the tree: the product, the test programs, the demo's.
readonly CPP_SOURCES=(installer/*.cpp tests/*.cpp demo/device-tool/*.cpp)

run_clang_tidy() {
  echo "== clang-tidy"
  local output
  # The compile commands are the MinGW build's; clang needs to be told the
  # target to find that toolchain's headers.
  if ! output=$(clang-tidy -p "$BUILD_DIR" --quiet \
    --extra-arg=--target=i686-w64-mingw32 "${CPP_SOURCES[@]}" 2>&1); then
    echo "$output" | grep -v "warnings generated\.$"
    return 1
  fi
  echo "clang-tidy: no findings"
}

run_cppcheck() {
  echo "== cppcheck"
  cppcheck --platform=win32A --library=windows \
    --enable=warning,portability,performance --inline-suppr \
    --error-exitcode=1 --quiet \
    --project="$BUILD_DIR/compile_commands.json"
  echo "cppcheck: no findings"
}

install_prerequisites
cmake --workflow --preset windows-x86 --fresh
run_clang_tidy
run_cppcheck
