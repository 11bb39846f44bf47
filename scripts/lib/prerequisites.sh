# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# What the demo and the test command need installed, and installing it.
# Needs host.sh, apt.sh and locales.sh.

# Building the x64 programs and running them under Wine's 64-bit loader: all
# that the demo needs. Without its preloader, Wine reserves the addresses
# that Windows programs expect only once its loader runs, and now and then
# finds the loader's heap, which the kernel places anywhere in the GiB above
# the loader, on the page that Windows keeps at 0x7ffe0000: the program
# then ends with status 1 before it starts.
readonly DEMO_PACKAGES=(
  cmake ninja-build python3 python3-pefile clang-19 lld-19 llvm-19
  mingw-w64-x86-64-dev wine64 wine64-preloader
)
# What the test command needs besides: the x86 runtime, the analysers and
# linters, signing with a software token, package normalization, locales,
# the licence linter, what builds the arm64 runtime from source, the
# emulators that the x86 and arm64 Wine run under, what makes the apt
# check's repository, and strace, which watches what a signing run starts.
readonly TEST_PACKAGES=(
  clang-tidy-19 cppcheck shellcheck pyflakes3 mingw-w64-i686-dev openssl
  osslsigncode libengine-pkcs11-openssl softhsm2 opensc strip-nondeterminism
  util-linux locales reuse dpkg-dev make qemu-user-static apt-utils strace
)
# Node.js and npm, for the bills' schema check, where the machine has none.
readonly NODE_PACKAGES=(nodejs npm)

# What the demo needs: the x64 programs, built and run under Wine.
install_demo_prerequisites() {
  require_supported_host
  install_missing_packages "${DEMO_PACKAGES[@]}"
}

# What the test command needs: every architecture, built, run and checked.
install_test_prerequisites() {
  require_supported_host
  local packages=("${DEMO_PACKAGES[@]}" "${TEST_PACKAGES[@]}")
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=("${NODE_PACKAGES[@]}")
  fi
  install_missing_packages "${packages[@]}"
  generate_suite_locales
  # The signing tools as a signing machine gets them: an osslsigncode too old
  # to check revocation (Debian 12's own) is replaced from the backports.
  "$PROJECT_ROOT/release/sign-package.sh" --install-prerequisites
}
