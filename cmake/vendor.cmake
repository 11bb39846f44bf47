# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Who ships the programs and which builds they make, from the vendor file
# that INSTALLER_VENDOR_FILE names, a JSON object whose keys may each be
# left out:
#   company, copyright, product  the version information's CompanyName,
#                                LegalCopyright and ProductName
#   package                      the package's name before
#                                -<version>-windows-<arch>.zip
#   builds                       [{folder, hardware_id, description}, ...]
# Without a file, or for a key it leaves out, today's values hold. A
# non-empty INSTALLER_COMPANY_NAME or INSTALLER_LEGAL_COPYRIGHT given to
# CMake wins over the file's company or copyright. Every value is checked
# here, and a bad one stops configure with a line that names it and the
# rule it breaks.
#
# Sets INSTALLER_COMPANY, INSTALLER_COPYRIGHT, INSTALLER_PRODUCT_NAME,
# INSTALLER_PACKAGE_NAME and INSTALLER_BUILDS, the builds as a JSON array.

set(INSTALLER_VENDOR_FILE "" CACHE FILEPATH
  "A JSON file that declares the company, product, package and builds")

set(INSTALLER_PRODUCT_NAME "Plug and Play driver installer")
set(INSTALLER_PACKAGE_NAME install)
set(INSTALLER_BUILDS [=[[
  {"folder": "port-function",
   "hardware_id": "ZORQBUS\\COMPORT&VID_0403&PID_6001",
   "description": "Driver installer (port function)"},
  {"folder": "bus-device", "hardware_id": "USB\\VID_0403&PID_6001",
   "description": "Driver installer (bus device)"}
]]=])
set(vendor_company "")
set(vendor_copyright "")

# Stops configure with one line, which CMake leaves unwrapped as it begins
# with a space.
function(vendor_error)
  string(JOIN "" text ${ARGV})
  message(FATAL_ERROR " ${INSTALLER_VENDOR_FILE}: ${text}")
endfunction()

# Control characters (U+0001 to U+001F and U+007F), which no name may hold.
string(ASCII 1 first_control)
string(ASCII 31 last_control)
string(ASCII 127 delete_character)
set(control_characters "[${first_control}-${last_control}${delete_character}]")

# Fails where a name holds a control character.
function(check_no_control what value)
  if(value MATCHES "${control_characters}")
    vendor_error("${what} \"${value}\" holds a control character")
  endif()
endfunction()

# A device identification string as Windows takes it: 1 to 200 printable
# ASCII characters other than space and comma.
function(check_hardware_id id)
  string(LENGTH "${id}" length)
  if(length EQUAL 0)
    vendor_error("a hardware ID is empty")
  elseif(length GREATER 200)
    vendor_error("hardware ID \"${id}\" is ${length} characters long, "
      "more than the 200 that Windows takes")
  elseif(id MATCHES "[ ,]" OR id MATCHES "[^!-~]")
    vendor_error("hardware ID \"${id}\" holds a space, a comma or a "
      "character outside printable ASCII, which Windows does not take")
  endif()
endfunction()

# A name that Windows can give a folder or a file: not a reserved device
# name (with or without an extension), no separator or wildcard, and no
# trailing dot or space.
function(check_windows_name what name)
  check_no_control("${what}" "${name}")
  string(TOUPPER "${name}" upper)
  if(name STREQUAL "" OR name STREQUAL "." OR name STREQUAL "..")
    vendor_error("${what} \"${name}\" names no folder")
  elseif(upper MATCHES "^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$")
    vendor_error("${what} \"${name}\" is a name that Windows reserves "
      "for a device")
  elseif(name MATCHES "[\\\\/:*?\"<>|]")
    vendor_error("${what} \"${name}\" holds one of \\ / : * ? \" < > |, "
      "which Windows does not take in a name")
  elseif(name MATCHES "[. ]$")
    vendor_error("${what} \"${name}\" ends in a dot or a space, which "
      "Windows drops")
  endif()
endfunction()

# The file's value of a string key, into output; output is left as it is
# where the file has no such key.
function(read_vendor_string output json key)
  string(JSON type ERROR_VARIABLE missing TYPE "${json}" ${key})
  if(missing)
    return()
  endif()
  if(NOT type STREQUAL STRING)
    vendor_error("\"${key}\" is a ${type}, not a string")
  endif()
  string(JSON value GET "${json}" ${key})
  check_no_control("${key}" "${value}")
  set(${output} "${value}" PARENT_SCOPE)
endfunction()

if(INSTALLER_VENDOR_FILE)
  if(NOT EXISTS "${INSTALLER_VENDOR_FILE}")
    vendor_error("no such file")
  endif()
  file(READ "${INSTALLER_VENDOR_FILE}" vendor_json)
  string(JSON vendor_type ERROR_VARIABLE json_error TYPE "${vendor_json}")
  if(json_error)
    # JSON takes a backslash only before one of "\/bfnrtu.
    if(vendor_json MATCHES "\\\\[^\"\\\\/bfnrtu]")
      vendor_error("a backslash is written singly, as in "
        "\"${CMAKE_MATCH_0}\": write each as two (\"ACME\\\\WIDGET\")")
    endif()
    vendor_error("not JSON: ${json_error}")
  elseif(NOT vendor_type STREQUAL OBJECT)
    vendor_error("holds a JSON ${vendor_type}, not an object")
  endif()
  read_vendor_string(vendor_company "${vendor_json}" company)
  read_vendor_string(vendor_copyright "${vendor_json}" copyright)
  read_vendor_string(INSTALLER_PRODUCT_NAME "${vendor_json}" product)
  read_vendor_string(INSTALLER_PACKAGE_NAME "${vendor_json}" package)
  check_windows_name(package "${INSTALLER_PACKAGE_NAME}")
  string(JSON builds_type ERROR_VARIABLE missing TYPE "${vendor_json}" builds)
  if(NOT missing)
    if(NOT builds_type STREQUAL ARRAY)
      vendor_error("\"builds\" is a ${builds_type}, not an array")
    endif()
    string(JSON INSTALLER_BUILDS GET "${vendor_json}" builds)
  endif()
endif()

# Sets build_folder, build_hardware_id and build_description to those of
# the declared build <index>; stops configure where one is missing.
macro(read_installer_build index)
  foreach(key IN ITEMS folder hardware_id description)
    string(JSON build_${key} ERROR_VARIABLE missing GET "${INSTALLER_BUILDS}"
      ${index} ${key})
    if(missing)
      vendor_error("build ${index} has no \"${key}\"")
    endif()
  endforeach()
endmacro()

# Every build's values, checked, and no two builds in one folder.
string(JSON build_count LENGTH "${INSTALLER_BUILDS}")
if(build_count EQUAL 0)
  vendor_error("\"builds\" declares no build")
endif()
math(EXPR last_build "${build_count} - 1")
set(folders_seen "")
foreach(index RANGE ${last_build})
  read_installer_build(${index})
  check_windows_name(folder "${build_folder}")
  check_hardware_id("${build_hardware_id}")
  check_no_control(description "${build_description}")
  if(build_description STREQUAL "")
    vendor_error("build \"${build_folder}\" has an empty description")
  endif()
  string(TOLOWER "${build_folder}" folder_key)
  if(folder_key IN_LIST folders_seen)
    vendor_error("folder \"${build_folder}\" is another build's too: "
      "Windows does not tell folder names apart by case")
  endif()
  list(APPEND folders_seen "${folder_key}")
endforeach()

# What CMake was given wins over the file.
if(INSTALLER_COMPANY_NAME)
  set(INSTALLER_COMPANY "${INSTALLER_COMPANY_NAME}")
else()
  set(INSTALLER_COMPANY "${vendor_company}")
endif()
if(INSTALLER_LEGAL_COPYRIGHT)
  set(INSTALLER_COPYRIGHT "${INSTALLER_LEGAL_COPYRIGHT}")
else()
  set(INSTALLER_COPYRIGHT "${vendor_copyright}")
endif()
