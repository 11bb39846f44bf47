# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Who ships the programs and which builds they make, from the vendor file
# that INSTALLER_VENDOR_FILE names, a JSON object whose keys may each be
# left out:
#   company, copyright, product  the version information's CompanyName,
#                                LegalCopyright and ProductName
#   package                      the package's name before
#                                -<version>-windows-<arch>.zip
#   version                      MAJOR.MINOR.PATCH, each 0 to 65535: the
#                                programs' version and the package's
#   builds                       [{folder, hardware_id or hardware_ids,
#                                  stage, description}, ...]
# A build's hardware_ids lists 1 to 32 IDs, which its program updates the
# driver for in that order; hardware_id is the form for one. With "stage":
# true the program first stages the driver package, so that Windows
# installs it for a device connected later.
# Without a file, or for a key it leaves out, today's values hold. A
# non-empty INSTALLER_COMPANY_NAME or INSTALLER_LEGAL_COPYRIGHT given to
# CMake wins over the file's company or copyright. Every value is checked
# here, and a bad one stops configure with a line that names it and the
# rule it breaks. The file is a dependency of the configure step, so an
# edit re-configures at the next build.
#
# Sets INSTALLER_COMPANY, INSTALLER_COPYRIGHT, INSTALLER_PRODUCT_NAME,
# INSTALLER_PACKAGE_NAME, INSTALLER_VERSION and INSTALLER_BUILDS, the builds
# as a JSON array whose every build has folder, hardware_ids (an array),
# stage (a boolean) and description. Declared values are read back from
# INSTALLER_BUILDS by index (read_installer_build, installer_build_id), and
# never held in CMake lists, which split at ; and join what [ and ] enclose.

set(INSTALLER_VENDOR_FILE "" CACHE FILEPATH
  "A JSON file that declares the company, product, package and builds")

set(INSTALLER_PRODUCT_NAME "Plug and Play driver installer")
set(INSTALLER_PACKAGE_NAME install)
set(INSTALLER_VERSION ${PROJECT_VERSION})
set(INSTALLER_BUILDS [=[[
  {"folder": "port-function",
   "hardware_ids": ["ZORQBUS\\COMPORT&VID_0403&PID_6001"], "stage": false,
   "description": "Driver installer (port function)"},
  {"folder": "bus-device", "hardware_ids": ["USB\\VID_0403&PID_6001"],
   "stage": false, "description": "Driver installer (bus device)"}
]]=])
# The most hardware IDs one build may declare.
set(max_hardware_ids 32)
set(vendor_company "")
set(vendor_copyright "")

# Stops configure with one line, which CMake leaves unwrapped as it begins
# with a space.
# The arguments are read one by one, as a list would split a value at ;.
function(vendor_error)
  set(text "")
  math(EXPR last "${ARGC} - 1")
  foreach(index RANGE ${last})
    string(APPEND text "${ARGV${index}}")
  endforeach()
  message(FATAL_ERROR " ${INSTALLER_VENDOR_FILE}: ${text}")
endfunction()

# A JSON string: backslashes and double quotes escaped.
function(json_string output value)
  string(REPLACE "\\" "\\\\" escaped "${value}")
  string(REPLACE "\"" "\\\"" escaped "${escaped}")
  set(${output} "\"${escaped}\"" PARENT_SCOPE)
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
# ASCII characters other than space and comma; and no double quote or
# semicolon, which could not reach the program as written.
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
  elseif(id MATCHES "[\";]")
    vendor_error("hardware ID \"${id}\" holds a double quote or a "
      "semicolon, which the build does not take in a hardware ID")
  endif()
endfunction()

# A name that Windows can give a folder or a file: not a reserved device
# name (with or without an extension), no separator or wildcard, and no
# trailing dot or space; and no semicolon or comma, which could not reach
# the build's steps as written.
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
  elseif(name MATCHES "[;,]")
    vendor_error("${what} \"${name}\" holds a semicolon or a comma, which "
      "the build does not take in a ${what}")
  endif()
endfunction()

# Fails where the JSON object <json> (<where> in the file) has a key that
# is not one of the others given.
function(check_known_keys json where)
  string(JSON count LENGTH "${json}")
  if(count EQUAL 0)
    return()
  endif()
  math(EXPR last "${count} - 1")
  foreach(index RANGE ${last})
    string(JSON key MEMBER "${json}" ${index})
    if(NOT key IN_LIST ARGN)
      string(JOIN ", " known ${ARGN})
      vendor_error("${where} has the key \"${key}\", which is none of "
        "${known}")
    endif()
  endforeach()
endfunction()

# The type of the member of <json> that the keys and indices after it name,
# or "" where it has none.
function(json_type output json)
  string(JSON type ERROR_VARIABLE missing TYPE "${json}" ${ARGN})
  if(missing)
    set(type "")
  endif()
  set(${output} "${type}" PARENT_SCOPE)
endfunction()

# The file's value of a string key, into output; output is left as it is
# where the file has no such key.
function(read_vendor_string output json key)
  json_type(type "${json}" ${key})
  if(type STREQUAL "")
    return()
  elseif(NOT type STREQUAL STRING)
    vendor_error("\"${key}\" is a ${type}, not a string")
  endif()
  string(JSON value GET "${json}" ${key})
  check_no_control("${key}" "${value}")
  set(${output} "${value}" PARENT_SCOPE)
endfunction()

# Fails on a version that is not three numbers from 0 to 65535, as the
# version information holds them, written without leading zeros.
function(check_version version)
  set(number "(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)")
  if(NOT version MATCHES "^${number}\\.${number}\\.${number}$"
      OR CMAKE_MATCH_1 GREATER 65535 OR CMAKE_MATCH_2 GREATER 65535
      OR CMAKE_MATCH_3 GREATER 65535)
    vendor_error("version \"${version}\" is not MAJOR.MINOR.PATCH, three "
      "numbers from 0 to 65535 without leading zeros")
  endif()
endfunction()

# Stops configure on a file that is not JSON, with the parser's message on
# one line; where a backslash written singly is the cause, with the fix.
function(json_syntax_error json error)
  string(REGEX REPLACE "[ \n]+" " " error "${error}")
  string(STRIP "${error}" error)
  if(error MATCHES "Bad escape sequence")
    # The first escape that JSON does not have: a backslash before other
    # than one of "\/bfnrtu. Pairs are taken from the left, so an escaped
    # backslash is never taken for the start of another escape.
    string(REGEX MATCHALL "\\\\." escapes "${json}")
    foreach(escape IN LISTS escapes)
      if(NOT escape MATCHES "^\\\\[\"\\\\/bfnrtu]$")
        vendor_error("not JSON: ${error} A backslash is written singly, "
          "as in \"${escape}\": write each as two (\"ACME\\\\WIDGET\")")
      endif()
    endforeach()
  endif()
  vendor_error("not JSON: ${error}")
endfunction()

# The declared build <index>, checked and with a hardware_ids array and a
# stage boolean, into output.
function(read_vendor_build output index)
  string(JSON build GET "${INSTALLER_BUILDS}" ${index})
  json_type(type "${INSTALLER_BUILDS}" ${index})
  if(NOT type STREQUAL OBJECT)
    vendor_error("build ${index} is a ${type}, not an object")
  endif()
  check_known_keys("${build}" "build ${index}" folder hardware_id
    hardware_ids stage description)
  foreach(key IN ITEMS folder description)
    json_type(type "${build}" ${key})
    if(type AND NOT type STREQUAL STRING)
      vendor_error("build ${index}: \"${key}\" is a ${type}, not a string")
    endif()
  endforeach()
  json_type(one "${build}" hardware_id)
  json_type(several "${build}" hardware_ids)
  if(one AND several)
    vendor_error("build ${index} declares both \"hardware_id\" and "
      "\"hardware_ids\": give the one or the other")
  elseif(one STREQUAL STRING)
    string(JSON id GET "${build}" hardware_id)
    json_string(id "${id}")
    string(JSON build REMOVE "${build}" hardware_id)
    string(JSON build SET "${build}" hardware_ids "[${id}]")
  elseif(one)
    vendor_error("build ${index}: \"hardware_id\" is a ${one}, not a string")
  elseif(several AND NOT several STREQUAL ARRAY)
    vendor_error("build ${index}: \"hardware_ids\" is a ${several}, not an "
      "array")
  elseif(NOT several)
    vendor_error("build ${index} has no \"hardware_id\" or \"hardware_ids\"")
  endif()
  json_type(stage "${build}" stage)
  if(stage STREQUAL "")
    string(JSON build SET "${build}" stage false)
  elseif(NOT stage STREQUAL BOOLEAN)
    vendor_error("build ${index}: \"stage\" is a ${stage}, not true or false")
  endif()
  set(${output} "${build}" PARENT_SCOPE)
endfunction()

if(INSTALLER_VENDOR_FILE)
  if(NOT EXISTS "${INSTALLER_VENDOR_FILE}")
    vendor_error("no such file")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${INSTALLER_VENDOR_FILE}")
  file(READ "${INSTALLER_VENDOR_FILE}" vendor_json)
  string(JSON vendor_type ERROR_VARIABLE json_error TYPE "${vendor_json}")
  if(json_error)
    json_syntax_error("${vendor_json}" "${json_error}")
  elseif(NOT vendor_type STREQUAL OBJECT)
    vendor_error("holds a JSON ${vendor_type}, not an object")
  endif()
  check_known_keys("${vendor_json}" "the file" company copyright product
    package version builds)
  read_vendor_string(vendor_company "${vendor_json}" company)
  read_vendor_string(vendor_copyright "${vendor_json}" copyright)
  read_vendor_string(INSTALLER_PRODUCT_NAME "${vendor_json}" product)
  read_vendor_string(INSTALLER_PACKAGE_NAME "${vendor_json}" package)
  read_vendor_string(INSTALLER_VERSION "${vendor_json}" version)
  check_windows_name(package "${INSTALLER_PACKAGE_NAME}")
  check_version("${INSTALLER_VERSION}")
  json_type(builds_type "${vendor_json}" builds)
  if(builds_type AND NOT builds_type STREQUAL ARRAY)
    vendor_error("\"builds\" is a ${builds_type}, not an array")
  elseif(builds_type)
    string(JSON INSTALLER_BUILDS GET "${vendor_json}" builds)
    string(JSON build_count LENGTH "${INSTALLER_BUILDS}")
    if(build_count GREATER 0)
      math(EXPR last_build "${build_count} - 1")
      foreach(index RANGE ${last_build})
        read_vendor_build(build ${index})
        string(JSON INSTALLER_BUILDS SET "${INSTALLER_BUILDS}" ${index}
          "${build}")
      endforeach()
    endif()
  endif()
endif()

# Sets build_folder, build_description, build_stage (ON or OFF) and
# build_last_id, the index of its last hardware ID, to those of the
# declared build <index>; stops configure where one is missing.
macro(read_installer_build index)
  foreach(key IN ITEMS folder description stage)
    string(JSON build_${key} ERROR_VARIABLE missing GET "${INSTALLER_BUILDS}"
      ${index} ${key})
    if(missing)
      vendor_error("build ${index} has no \"${key}\"")
    endif()
  endforeach()
  string(JSON build_last_id LENGTH "${INSTALLER_BUILDS}" ${index}
    hardware_ids)
  math(EXPR build_last_id "${build_last_id} - 1")
endmacro()

# Sets <output> to hardware ID <id_index> of the declared build <index>.
function(installer_build_id output index id_index)
  string(JSON id GET "${INSTALLER_BUILDS}" ${index} hardware_ids ${id_index})
  set(${output} "${id}" PARENT_SCOPE)
endfunction()

# Sets <output> to the hardware IDs of the declared build <index>, in
# order, with <separator> between them. A line feed, which no ID holds,
# can stand for a separator that a caller escapes the IDs before writing.
function(installer_build_ids output index separator)
  string(JSON last LENGTH "${INSTALLER_BUILDS}" ${index} hardware_ids)
  math(EXPR last "${last} - 1")
  set(ids "")
  foreach(id_index RANGE ${last})
    installer_build_id(id ${index} ${id_index})
    if(id_index GREATER 0)
      string(APPEND ids "${separator}")
    endif()
    string(APPEND ids "${id}")
  endforeach()
  set(${output} "${ids}" PARENT_SCOPE)
endfunction()

# Every build's values, checked, and no two builds in one folder, nor one
# hardware ID twice in one build: Windows tells neither apart by case.
string(JSON build_count LENGTH "${INSTALLER_BUILDS}")
if(build_count EQUAL 0)
  vendor_error("\"builds\" declares no build")
endif()
math(EXPR last_build "${build_count} - 1")
foreach(index RANGE ${last_build})
  read_installer_build(${index})
  check_windows_name(folder "${build_folder}")
  check_no_control(description "${build_description}")
  if(build_description STREQUAL "")
    vendor_error("build \"${build_folder}\" has an empty description")
  endif()
  if(build_last_id LESS 0)
    vendor_error("build \"${build_folder}\": \"hardware_ids\" is empty")
  elseif(build_last_id GREATER_EQUAL max_hardware_ids)
    math(EXPR id_count "${build_last_id} + 1")
    vendor_error("build \"${build_folder}\" declares ${id_count} hardware "
      "IDs, more than ${max_hardware_ids}")
  endif()
  foreach(id_index RANGE ${build_last_id})
    json_type(type "${INSTALLER_BUILDS}" ${index} hardware_ids ${id_index})
    if(NOT type STREQUAL STRING)
      vendor_error("build \"${build_folder}\": a hardware ID is a ${type}, "
        "not a string")
    endif()
    installer_build_id(id ${index} ${id_index})
    check_hardware_id("${id}")
    string(TOUPPER "${id}" id_key)
    foreach(earlier RANGE ${id_index})
      installer_build_id(earlier_id ${index} ${earlier})
      string(TOUPPER "${earlier_id}" earlier_id)
      if(earlier LESS id_index AND earlier_id STREQUAL id_key)
        vendor_error("build \"${build_folder}\" declares hardware ID "
          "\"${id}\" twice: Windows does not tell hardware IDs apart by case")
      endif()
    endforeach()
  endforeach()
  string(TOLOWER "${build_folder}" folder_key)
  foreach(earlier RANGE ${index})
    string(JSON earlier_folder GET "${INSTALLER_BUILDS}" ${earlier} folder)
    string(TOLOWER "${earlier_folder}" earlier_folder)
    if(earlier LESS index AND earlier_folder STREQUAL folder_key)
      vendor_error("folder \"${build_folder}\" is another build's too: "
        "Windows does not tell folder names apart by case")
    endif()
  endforeach()
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
