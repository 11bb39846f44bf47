# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Run by CPack once it has written the packages: makes each one the same
# bytes for the same files, whoever builds it, where and when. Debian's
# strip-nondeterminism puts the entries in name order, stamps every time
# (DOS and extended) with BUILDINFO.txt's SOURCE_DATE_EPOCH in UTC, gives
# files mode 0644, or 0755 where executable, and folders 0755, and zeroes
# the owner IDs. The compressed data is CPack's, the same for the same
# files and zlib.
find_program(STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
file(STRINGS ${CPACK_INSTALLER_BUILD_INFO} epoch
  REGEX "^SOURCE_DATE_EPOCH: [0-9]+$")
string(REGEX REPLACE "^SOURCE_DATE_EPOCH: " "" epoch "${epoch}")
if(NOT epoch)
  message(FATAL_ERROR "${CPACK_INSTALLER_BUILD_INFO} gives no SOURCE_DATE_EPOCH")
endif()
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND ${STRIP_NONDETERMINISM} --type zip
      --timestamp ${epoch} ${package}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Could not normalize ${package}")
  endif()
endforeach()
