# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Shared by the toolchain files, which set CMAKE_SYSTEM_PROCESSOR, TRIPLET
# and MINGW_SYSROOT (the MinGW-w64 headers and runtime) before including
# this: Debian's LLVM 19 (clang, lld and its tools) for every architecture.
# Control Flow Guard needs clang's -mguard=cf and lld's --guard-cf, which
# came after LLVM 14, and which GNU ld cannot emit.
set(CMAKE_SYSTEM_NAME Windows)
set(llvm_bin /usr/lib/llvm-19/bin)

set(CMAKE_C_COMPILER ${llvm_bin}/clang)
set(CMAKE_CXX_COMPILER ${llvm_bin}/clang++)
set(CMAKE_ASM_COMPILER ${llvm_bin}/clang)
foreach(language C CXX ASM)
  set(CMAKE_${language}_COMPILER_TARGET ${TRIPLET})
endforeach()
# windres preprocesses with the clang beside it.
set(CMAKE_RC_COMPILER ${llvm_bin}/llvm-windres)
set(CMAKE_RC_FLAGS_INIT "--target=${TRIPLET}")
set(CMAKE_AR ${llvm_bin}/llvm-ar)
set(CMAKE_RANLIB ${llvm_bin}/llvm-ranlib)

# clang takes the headers, the libraries and the start-up objects (the wide
# ones for -municode) from the sysroot; windres is told where the headers
# are. The programs link the MinGW-w64 runtime and the platform's msvcrt,
# nothing else by default: no libgcc and no compiler-rt.
set(CMAKE_SYSROOT ${MINGW_SYSROOT})
set(CMAKE_RC_STANDARD_INCLUDE_DIRECTORIES ${MINGW_SYSROOT}/include)
set(link_flags "-fuse-ld=lld -nodefaultlibs")
# clang links a crtbegin.o and a crtend.o around every program: the
# MinGW-w64 runtime's own, which define nothing (Debian's packages ship
# them, and the arm64 recipe builds them).
set(MINGW_LINK_LIBRARIES mingw32 mingwex msvcrt kernel32)
list(TRANSFORM MINGW_LINK_LIBRARIES PREPEND -l OUTPUT_VARIABLE link_libraries)
list(JOIN link_libraries " " link_libraries)
# These flags go with the standard libraries, which only the toolchain
# sets, rather than into CMAKE_EXE_LINKER_FLAGS, which a user's
# -DCMAKE_EXE_LINKER_FLAGS would replace: a user's flags add to them.
foreach(language C CXX)
  set(CMAKE_${language}_STANDARD_LIBRARIES
    "${link_flags} -Wl,--start-group ${link_libraries} -Wl,--end-group")
endforeach()
# Programs need the project's own __chkstk (___chkstk_ms on x86 and x64) to
# link, so the compiler checks build libraries.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH ${MINGW_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
