# Cross-compiles for 64-bit x86-64 Windows with Debian's MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
# The Debian packages that make these programs, for the build information.
set(INSTALLER_TOOLCHAIN_PACKAGES g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
