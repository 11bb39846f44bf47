#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# The test command. Installs what is missing, then runs the stages below,
# each a check of its own under tests/: it builds both deliverables of
# every architecture and the test programs, runs the suite, which runs the
# real install.exe files under Wine, builds for vendors, signs the packages
# and checks them, and runs the linters and static analysers. Stages that
# need nothing of each other run side by side. Any failure or finding fails
# the command.
#   usage: test.sh [--jobs N] [stage...]
#       runs the named stages only (all by default), N at once (by default
#       one more than the machine has processors, as the emulated suites
#       wait on Wine's server much of their time)
#   test.sh --list
#       names the stages and what each needs
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/host.sh
source scripts/lib/apt.sh
source scripts/lib/locales.sh
source scripts/lib/prerequisites.sh
source scripts/lib/stages.sh

readonly PYTHON=/usr/bin/python3 # Debian's, with python3-pefile
readonly LOGS=build/test-logs
readonly DEFAULT_BUILDS=(build/windows-x86 build/windows-x64 build/windows-arm64)
readonly VENDOR_EXAMPLE_BUILD=build/zorq-x64

# Configures, builds and packages one architecture's default build folder
# afresh: the deliverables, the test programs and the demo's.
build_default() {
  cmake --preset "windows-$1" --fresh
  cmake --build --preset "windows-$1"
  cpack --preset "windows-$1"
}

# The package that cpack wrote in each given build folder, a path each.
packages_of() {
  local folder
  for folder in "$@"; do
    echo "$folder/$("$PYTHON" cmake/build_tree.py package "$folder")"
  done
}

# Every default package and the vendor example's, signed into
# build/signing/signed/, which the bills stage reads.
sign_packages() {
  local packages
  mapfile -t packages < <(packages_of "${DEFAULT_BUILDS[@]}" "$VENDOR_EXAMPLE_BUILD")
  "$PYTHON" tests/signing_check.py build/signing "${packages[@]}"
}

# The bill of every default package, as built and as signed.
check_bills() {
  local packages
  mapfile -t packages < <(packages_of "${DEFAULT_BUILDS[@]}")
  tests/bill_schema_check.sh "${packages[@]}" build/signing/signed/*.zip
}

# The stages, those on the longest path first: <name> "<what it needs>"
# <command...>.
stage arm64-build "" build_default arm64
stage x86-build "" build_default x86
stage x64-build "" build_default x64
stage arm64-suite "arm64-build" tests/suite_check.sh arm64
stage x86-suite "x86-build" tests/suite_check.sh x86
stage x64-suite "x64-build" tests/suite_check.sh x64
stage vendor-example "x64-build" tests/vendor_build_check.sh example
stage signing "x86-build x64-build arm64-build vendor-example" sign_packages
stage bills "signing" check_bills
stage product-line "x64-build" tests/vendor_build_check.sh product-line
stage apt "" tests/apt_check.sh
stage build-info "" "$PYTHON" tests/build_info_check.py follows-tree
stage provenance "" "$PYTHON" tests/build_info_check.py provenance
stage bad-vendor-files "" tests/bad_vendor_files_check.sh
stage user-linker-flags "" tests/user_linker_flags_check.sh
stage lint "" tests/lint_check.sh
stage reuse "" reuse lint
stage docs "" "$PYTHON" tests/docs_check.py .
stage bad-arguments "" tests/bad_arguments_check.sh
stage runtime-notice "arm64-build" tests/runtime_notice_check.sh
stage reconfigure "arm64-build" tests/reconfigure_check.sh
stage clang-tidy "x86-build" tests/clang_tidy_check.sh
stage cppcheck "x86-build" tests/cppcheck_check.sh
stage reproducible "x86-build x64-build arm64-build" tests/reproducible_check.sh

usage() {
  echo "usage: test.sh [--jobs N] [stage...], or test.sh --list" >&2
  exit 2
}

STAGE_JOBS=$(($(nproc) + 1))
chosen=()
while [ "$#" -gt 0 ]; do
  case $1 in
  --list)
    for name in "${STAGE_ORDER[@]}"; do
      echo "$name${STAGE_NEEDS[$name]:+ (after ${STAGE_NEEDS[$name]})}"
    done
    exit 0
    ;;
  --jobs)
    [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage
    STAGE_JOBS=$2
    shift 2
    ;;
  *)
    is_stage "$1" || usage
    chosen+=("$1")
    shift
    ;;
  esac
done
readonly STAGE_JOBS

install_test_prerequisites
run_stages "$LOGS" "${chosen[@]}"
