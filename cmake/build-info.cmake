# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# What a rebuilder needs to make the same bytes: the source commit and the
# time stamped into the packages, both read from the tree whenever the
# programs are built (cmake/source-state.cmake), the Debian release that
# built them, the exact toolchain packages that built this architecture
# (INSTALLER_TOOLCHAIN_PACKAGES, from the toolchain file) and the packages
# that write the ZIP packages. Sets INSTALLER_DEBIAN_CODENAME and
# INSTALLER_BUILD_INFO, the BUILDINFO.txt that the target build_info keeps
# true of the tree, and writes toolchain.txt for the bill of materials: a
# line of package, version and architecture for each package that dpkg
# knows. Nothing in it depends on when, where or by whom it is built.

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

# What writes the packages' bytes: CMake's archive library and its zlib, and
# strip-nondeterminism with the Perl modules that do its work. Alternatives
# are separated by "|": a release renamed the archive library's package.
set(packaging_packages "libarchive13t64|libarchive13" zlib1g
  strip-nondeterminism libfile-stripnondeterminism-perl libarchive-zip-perl)

execute_process(COMMAND dpkg --print-architecture
  OUTPUT_VARIABLE native_architecture OUTPUT_STRIP_TRAILING_WHITESPACE)

# Sets <version> and <architecture> to those of the installed package, the
# host's own architecture where several are installed, or <version> to "".
function(installed_package package version architecture)
  foreach(name IN ITEMS ${package}:${native_architecture} ${package})
    execute_process(
      COMMAND dpkg-query -W "-f=\${db:Status-Status} \${Version} \${Architecture}"
        ${name}
      OUTPUT_VARIABLE answer RESULT_VARIABLE status ERROR_QUIET)
    if(status EQUAL 0 AND answer MATCHES "^installed ([^ ]+) ([^ ]+)$")
      set(${version} ${CMAKE_MATCH_1} PARENT_SCOPE)
      set(${architecture} ${CMAKE_MATCH_2} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${version} "" PARENT_SCOPE)
endfunction()

# Appends a line for each package to <listing>, and for each installed one
# a line of package, version and architecture to toolchain_packages.
function(list_packages listing)
  set(text "${${listing}}")
  foreach(alternatives IN LISTS ARGN)
    string(REPLACE "|" ";" alternatives "${alternatives}")
    foreach(candidate IN LISTS alternatives)
      set(package ${candidate}) # the loop's variable ends with the loop
      installed_package(${package} version architecture)
      if(version)
        break()
      endif()
    endforeach()
    if(version)
      string(APPEND toolchain_packages "${package} ${version} ${architecture}\n")
      string(APPEND text "  ${package} ${version}\n")
    else()
      string(APPEND text "  ${package} not installed as a Debian package\n")
    endif()
  endforeach()
  set(${listing} "${text}" PARENT_SCOPE)
  set(toolchain_packages "${toolchain_packages}" PARENT_SCOPE)
endfunction()

set(toolchain "")
set(packaging "")
set(toolchain_packages "")
list_packages(toolchain ${INSTALLER_TOOLCHAIN_PACKAGES} cmake)
list_packages(packaging ${packaging_packages})
installed_package(mingw-w64-common runtime_source unused)

if(ARM64_RUNTIME)
  file(READ ${ARM64_RUNTIME}/origin.txt runtime_origin)
  string(REGEX REPLACE "[ \n]+" " " runtime_origin "${runtime_origin}")
  string(STRIP "${runtime_origin}" runtime_origin)
  string(APPEND toolchain "  the arm64 MinGW-w64 runtime, built by "
    "cmake/arm64-runtime.sh from ${runtime_origin}\n")
endif()

# The lines that the tree's state cannot change; cmake/source-state.cmake
# puts in the commit and the time.
set(INSTALLER_BUILD_INFO ${CMAKE_BINARY_DIR}/BUILDINFO.txt)
file(WRITE ${CMAKE_BINARY_DIR}/BUILDINFO.txt.in
  "install ${PROJECT_VERSION} for windows-${INSTALLER_ARCHITECTURE}\n"
  "source commit: @SOURCE_COMMIT@\n"
  "programs' and package's version: ${INSTALLER_VERSION}\n"
  "SOURCE_DATE_EPOCH: @SOURCE_DATE_EPOCH@\n"
  "built on: ${debian_release}; a rebuild needs the same release\n"
  "toolchain (Debian ${INSTALLER_DEBIAN_CODENAME} packages):\n${toolchain}"
  "packaging (Debian ${INSTALLER_DEBIAN_CODENAME} packages that write the "
  "ZIP package):\n${packaging}")
# What a rebuild takes from the vendor file: the names in the version
# information, the package's name, and each build.
string(CONCAT builds_text "version information: company \"${INSTALLER_COMPANY}\", "
  "copyright \"${INSTALLER_COPYRIGHT}\", product \"${INSTALLER_PRODUCT_NAME}\"\n"
  "package name: ${INSTALLER_PACKAGE_NAME}\nbuilds (folder, hardware IDs, "
  "staging, description):\n")
foreach(index RANGE ${last_build})
  read_installer_build(${index})
  installer_build_ids(ids ${index} " ")
  string(APPEND builds_text "  ${build_folder}, ${ids}")
  if(build_stage)
    string(APPEND builds_text ", stages the driver package")
  else()
    string(APPEND builds_text ", no staging")
  endif()
  string(APPEND builds_text ", ${build_description}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/BUILDINFO.txt.in.builds "${builds_text}")
file(WRITE ${CMAKE_BINARY_DIR}/toolchain.txt "${toolchain_packages}")

# Runs at every build, and rewrites BUILDINFO.txt only when the commit, the
# uncommitted changes or the time differ, so that what depends on it is
# rebuilt only then.
add_custom_target(build_info ALL
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
    -DTEMPLATE=${CMAKE_BINARY_DIR}/BUILDINFO.txt.in
    -DOUTPUT=${INSTALLER_BUILD_INFO}
    -P ${PROJECT_SOURCE_DIR}/cmake/source-state.cmake
  BYPRODUCTS ${INSTALLER_BUILD_INFO}
  VERBATIM)
