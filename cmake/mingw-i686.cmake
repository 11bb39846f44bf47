# Cross-compiles for 32-bit x86 Windows with Debian's MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MINGW_TRIPLET i686-w64-mingw32)
# The Debian packages that make these programs, for the build information.
set(INSTALLER_TOOLCHAIN_PACKAGES g++-mingw-w64-i686-posix
  binutils-mingw-w64-i686 mingw-w64-i686-dev mingw-w64-common)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
