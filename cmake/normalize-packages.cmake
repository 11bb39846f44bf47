# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Run by CPack once it has written the packages: makes each one the same
# bytes for the same files, whoever builds it, where and when. Debian's
# strip-nondeterminism puts the entries in name order, stamps every time
# (DOS and extended) with the given one in UTC, gives files mode 0644, or
# 0755 where executable, and folders 0755, and zeroes the owner IDs. The
# compressed data is CPack's, the same for the same files and zlib.
find_program(STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND ${STRIP_NONDETERMINISM} --type zip
      --timestamp ${CPACK_INSTALLER_SOURCE_DATE_EPOCH} ${package}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Could not normalize ${package}")
  endif()
endforeach()
