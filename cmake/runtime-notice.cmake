# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# The MinGW-w64 runtime's licence asks binary distributions to carry its
# notice, and the packages carry packaging/COPYING.MinGW-w64-runtime.txt.
# The build goes ahead only with a runtime whose source has that notice,
# byte for byte: the arm64 runtime keeps its source's notice, and for the
# runtime of Debian's binary packages, runtime-notices.txt records the
# notice of each source version that has been read. scripts/test.sh compares
# the packaged notice with the source of the version linked.
set(runtime_notice ${PROJECT_SOURCE_DIR}/packaging/COPYING.MinGW-w64-runtime.txt)
set(known_runtime_notices ${CMAKE_CURRENT_LIST_DIR}/runtime-notices.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${runtime_notice} ${known_runtime_notices})
file(SHA256 ${runtime_notice} shipped_notice)

if(ARM64_RUNTIME)
  file(SHA256 ${ARM64_RUNTIME}/COPYING.MinGW-w64-runtime.txt source_notice)
else()
  file(STRINGS ${known_runtime_notices} known REGEX "^[^#]")
  set(source_notice "")
  foreach(line IN LISTS known)
    string(REPLACE " " ";" line "${line}")
    list(GET line 0 version)
    if(version STREQUAL runtime_source)
      list(GET line 1 source_notice)
    endif()
  endforeach()
  if(NOT source_notice)
    message(FATAL_ERROR "The notice of mingw-w64 ${runtime_source} has not "
      "been read: compare COPYING.MinGW-w64-runtime.txt of that source with "
      "packaging/COPYING.MinGW-w64-runtime.txt, and record it in "
      "cmake/runtime-notices.txt if they are the same")
  endif()
endif()
if(NOT source_notice STREQUAL shipped_notice)
  message(FATAL_ERROR "mingw-w64 ${runtime_source} has another notice than "
    "packaging/COPYING.MinGW-w64-runtime.txt: ship that source's "
    "COPYING.MinGW-w64-runtime.txt instead")
endif()
