# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# What a rebuilder needs to make the same bytes: the source commit, the time
# stamped into the packages, the Debian release that built them, and the
# exact toolchain packages that built this architecture
# (INSTALLER_TOOLCHAIN_PACKAGES, from the toolchain file). Sets
# INSTALLER_SOURCE_DATE_EPOCH and INSTALLER_DEBIAN_CODENAME, and writes
# BUILDINFO.txt into the build tree,
# and beside it toolchain.txt for the bill of materials: a line of package,
# version and architecture for each toolchain package that dpkg knows.
# Nothing in it depends on when, where or by whom it is built.

# The packages' timestamps: SOURCE_DATE_EPOCH when it is set, otherwise the
# time of the commit being built, otherwise a fixed time.
set(earliest_zip_time 315532800) # 1980-01-01, the earliest a ZIP entry holds
# Only a checkout of this tree itself counts, not one it happens to lie in.
execute_process(
  COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --show-toplevel HEAD
  OUTPUT_VARIABLE git_answer OUTPUT_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE git_status ERROR_QUIET)
if(git_status EQUAL 0)
  string(REPLACE "\n" ";" git_answer "${git_answer}")
  list(GET git_answer 0 checkout)
  list(GET git_answer 1 source_commit)
  file(REAL_PATH "${PROJECT_SOURCE_DIR}" source_dir)
  if(NOT checkout STREQUAL source_dir)
    set(git_status 1)
  endif()
endif()
if(NOT git_status EQUAL 0)
  set(source_commit "unknown: not built from a git checkout")
else()
  execute_process(
    COMMAND git -C ${PROJECT_SOURCE_DIR} status --porcelain
      --untracked-files=no
    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(changes)
    string(APPEND source_commit " with uncommitted changes")
  endif()
endif()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(INSTALLER_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT INSTALLER_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds")
  endif()
  set(epoch_origin "SOURCE_DATE_EPOCH from the environment")
elseif(git_status EQUAL 0)
  execute_process(
    COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE INSTALLER_SOURCE_DATE_EPOCH
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(epoch_origin "the time of the commit being built")
else()
  set(INSTALLER_SOURCE_DATE_EPOCH ${earliest_zip_time})
  set(epoch_origin "a fixed time (1980-01-01), as this is no git checkout")
endif()
message(STATUS "Package timestamps: ${INSTALLER_SOURCE_DATE_EPOCH}, "
  "${epoch_origin}")

# The release, from /etc/os-release: each Debian release has its own
# toolchain, so programs built on two releases differ.
# (CMake's own query reads the sysroot's, which is Windows'.)
file(STRINGS /etc/os-release os_release
  REGEX "^(ID|VERSION_CODENAME|PRETTY_NAME)=")
foreach(line IN LISTS os_release)
  string(REGEX MATCH "^([A-Z_]+)=\"?([^\"]*)\"?$" line "${line}")
  set(os_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
set(INSTALLER_DEBIAN_CODENAME "${os_VERSION_CODENAME}")
set(debian_release "${os_PRETTY_NAME}")
if(NOT os_ID STREQUAL debian OR NOT INSTALLER_DEBIAN_CODENAME)
  message(FATAL_ERROR "The build needs a Debian release's own packages, and "
    "/etc/os-release names no Debian release")
endif()

set(toolchain "")
set(toolchain_packages "")
foreach(package IN LISTS INSTALLER_TOOLCHAIN_PACKAGES ITEMS cmake)
  execute_process(
    COMMAND dpkg-query -W "-f=\${Version} \${Architecture}" ${package}
    OUTPUT_VARIABLE version RESULT_VARIABLE dpkg_status ERROR_QUIET)
  if(dpkg_status EQUAL 0)
    string(APPEND toolchain_packages "${package} ${version}\n")
    string(REGEX REPLACE " .*" "" version "${version}")
  else()
    set(version "not installed as a Debian package")
  endif()
  string(APPEND toolchain "  ${package} ${version}\n")
  if(package STREQUAL mingw-w64-common)
    set(runtime_source ${version}) # the arm64 runtime's source, too
  endif()
endforeach()

if(ARM64_RUNTIME)
  file(READ ${ARM64_RUNTIME}/origin.txt runtime_origin)
  string(REGEX REPLACE "[ \n]+" " " runtime_origin "${runtime_origin}")
  string(STRIP "${runtime_origin}" runtime_origin)
  string(APPEND toolchain "  the arm64 MinGW-w64 runtime, built by "
    "cmake/arm64-runtime.sh from ${runtime_origin}\n")
endif()

file(WRITE ${CMAKE_BINARY_DIR}/BUILDINFO.txt
  "install ${PROJECT_VERSION} for windows-${INSTALLER_ARCHITECTURE}\n"
  "source commit: ${source_commit}\n"
  "programs' version: ${INSTALLER_PROGRAM_VERSION}\n"
  "SOURCE_DATE_EPOCH: ${INSTALLER_SOURCE_DATE_EPOCH}\n"
  "built on: ${debian_release}; a rebuild needs the same release\n"
  "toolchain (Debian ${INSTALLER_DEBIAN_CODENAME} packages):\n${toolchain}")
file(WRITE ${CMAKE_BINARY_DIR}/toolchain.txt "${toolchain_packages}")
