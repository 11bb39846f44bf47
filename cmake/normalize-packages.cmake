# Run by CPack once it has written the packages: makes each one the same
# bytes for the same files (see normalize-zip.py).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  execute_process(
    COMMAND ${CPACK_INSTALLER_PYTHON} ${CPACK_INSTALLER_NORMALIZE_ZIP}
      ${package} ${CPACK_INSTALLER_SOURCE_DATE_EPOCH}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "Could not normalize ${package}")
  endif()
endforeach()
