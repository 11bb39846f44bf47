# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Cross-compiles for Windows on ARM64 with LLVM 19, against a MinGW-w64
# runtime that arm64-runtime.sh builds from Debian's mingw-w64 source (once
# per machine; it is cached), as Debian has none for this target.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(TRIPLET aarch64-w64-mingw32)

# Asked for at every configure, which is quick once it is built, so that a
# changed recipe or a cleared cache is noticed. The projects CMake builds to
# test the compiler get the answer passed down instead. The runtime's path
# changes with its key, so it goes into no variable that CMake caches: a
# re-configured build folder always uses the runtime of this configure.
if(NOT DEFINED ARM64_RUNTIME)
  execute_process(
    COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/arm64-runtime.sh
    OUTPUT_VARIABLE ARM64_RUNTIME OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE runtime_status)
  if(NOT runtime_status EQUAL 0)
    message(FATAL_ERROR "The arm64 MinGW-w64 runtime could not be built")
  endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ARM64_RUNTIME)
set(MINGW_SYSROOT ${ARM64_RUNTIME})

# The Debian packages that make these programs, for the build information:
# mingw-w64-common's version is also that of the runtime's source.
set(INSTALLER_TOOLCHAIN_PACKAGES clang-19 lld-19 llvm-19 mingw-w64-common)
include(${CMAKE_CURRENT_LIST_DIR}/llvm-mingw.cmake)
