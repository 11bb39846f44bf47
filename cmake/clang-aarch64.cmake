# Cross-compiles for Windows on ARM64 with Debian's clang, lld and LLVM
# tools, against a MinGW-w64 runtime that arm64-runtime.sh builds from
# Debian's mingw-w64 source (once per machine; it is cached). clang's own
# runtime libraries for this target are not in Debian, so the programs link
# the MinGW-w64 runtime and the platform's msvcrt explicitly.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(triplet aarch64-w64-mingw32)

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

# The Debian packages that make these programs, for the build information:
# mingw-w64-common's version is also that of the runtime's source.
set(INSTALLER_TOOLCHAIN_PACKAGES clang-14 lld-14 llvm-14 mingw-w64-common)

set(CMAKE_C_COMPILER clang-14)
set(CMAKE_C_COMPILER_TARGET ${triplet})
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET ${triplet})
set(CMAKE_ASM_COMPILER clang-14)
set(CMAKE_ASM_COMPILER_TARGET ${triplet})
# windres preprocesses with a clang of that name beside it or on PATH, and
# Debian puts an unversioned clang on PATH only with its clang package.
set(CMAKE_RC_COMPILER /usr/lib/llvm-14/bin/llvm-windres)
set(CMAKE_RC_FLAGS_INIT "--target=${triplet}")
set(CMAKE_AR llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)

# clang takes the headers, the libraries and the start-up objects (the wide
# ones for -municode) from the sysroot; windres is told where the headers
# are.
set(CMAKE_SYSROOT ${ARM64_RUNTIME})
set(CMAKE_RC_STANDARD_INCLUDE_DIRECTORIES ${ARM64_RUNTIME}/include)
set(arm64_link_flags "-fuse-ld=lld-14 -nodefaultlibs")
set(CMAKE_EXE_LINKER_FLAGS_INIT ${arm64_link_flags})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${arm64_link_flags})
foreach(language C CXX)
  set(CMAKE_${language}_STANDARD_LIBRARIES
    "-Wl,--start-group -lmingw32 -lmingwex -lmsvcrt -lkernel32 -Wl,--end-group")
endforeach()
# Programs need the project's own __chkstk to link, so the compiler checks
# build libraries.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH ${ARM64_RUNTIME})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
