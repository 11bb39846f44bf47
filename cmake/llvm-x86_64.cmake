# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Cross-compiles for 64-bit x86-64 Windows with LLVM 19 against Debian's
# MinGW-w64 runtime.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TRIPLET x86_64-w64-mingw32)
set(MINGW_SYSROOT /usr/${TRIPLET})
# The Debian package of the runtime the programs link, and those that make
# the programs, for the build information.
set(INSTALLER_RUNTIME_PACKAGE mingw-w64-x86-64-dev)
set(INSTALLER_TOOLCHAIN_PACKAGES clang-19 lld-19 llvm-19 ${INSTALLER_RUNTIME_PACKAGE}
  mingw-w64-common)
include(${CMAKE_CURRENT_LIST_DIR}/llvm-mingw.cmake)
