# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Run at every build (cmake -P): writes BUILDINFO.txt (OUTPUT) from its
# template (TEMPLATE, and TEMPLATE.builds after it as it is) with the
# tree's state at this moment: the commit of
# SOURCE_DIR, whether it has uncommitted changes, and the time stamped into
# the packages. OUTPUT is written only when that state differs from what it
# says, so its time tells when it last changed.

# The packages' timestamps: SOURCE_DATE_EPOCH when it is set, otherwise the
# time of the commit being built, otherwise a fixed time.
set(earliest_zip_time 315532800) # 1980-01-01, the earliest a ZIP entry holds

# The tree's own reads of git trust this checkout whoever owns it (a root
# build of a checkout that another user owns, as a container building a
# mounted one): git otherwise refuses such a repository ("dubious
# ownership"). The setting holds for these commands alone.
file(REAL_PATH "${SOURCE_DIR}" source_dir)
set(git git -c "safe.directory=${source_dir}" -C "${source_dir}")

# Only a checkout of this tree itself counts, not one it happens to lie in.
# A checkout whose state git cannot read stops the build: a package that
# named no commit, or a wrong one, would match no rebuild.
execute_process(
  COMMAND ${git} rev-parse --show-toplevel HEAD
  OUTPUT_VARIABLE git_answer OUTPUT_STRIP_TRAILING_WHITESPACE
  ERROR_VARIABLE git_error ERROR_STRIP_TRAILING_WHITESPACE
  RESULT_VARIABLE git_status)
if(NOT git_status EQUAL 0 AND EXISTS "${source_dir}/.git")
  string(REGEX REPLACE "[ \n]+" " " git_error "${git_error}")
  message(FATAL_ERROR " ${source_dir} is a git checkout whose commit git "
    "does not give (${git_error}); BUILDINFO.txt would name no commit")
endif()
if(git_status EQUAL 0)
  string(REPLACE "\n" ";" git_answer "${git_answer}")
  list(GET git_answer 0 checkout)
  list(GET git_answer 1 SOURCE_COMMIT)
  if(NOT checkout STREQUAL source_dir)
    set(git_status 1)
  endif()
endif()
if(NOT git_status EQUAL 0)
  set(SOURCE_COMMIT "unknown: not built from a git checkout")
else()
  execute_process(
    COMMAND ${git} status --porcelain --untracked-files=no
    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status_status)
  if(NOT status_status EQUAL 0)
    message(FATAL_ERROR " git status fails in ${source_dir}: BUILDINFO.txt "
      "cannot say whether the tree has uncommitted changes")
  endif()
  if(changes)
    string(APPEND SOURCE_COMMIT " with uncommitted changes")
  endif()
endif()

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
  if(NOT SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds")
  endif()
  set(epoch_origin "SOURCE_DATE_EPOCH from the environment")
elseif(git_status EQUAL 0)
  execute_process(
    COMMAND ${git} log -1 --format=%ct
    OUTPUT_VARIABLE SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(epoch_origin "the time of the commit being built")
else()
  set(SOURCE_DATE_EPOCH ${earliest_zip_time})
  set(epoch_origin "a fixed time (1980-01-01), as this is no git checkout")
endif()

set(previous "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} previous)
endif()
file(READ ${TEMPLATE} template)
string(CONFIGURE "${template}" build_info @ONLY)
# The declared builds follow as they are, where no @ is taken for a
# variable's name.
file(READ ${TEMPLATE}.builds builds)
string(APPEND build_info "${builds}")
if(NOT build_info STREQUAL previous)
  file(WRITE ${OUTPUT} "${build_info}")
  message(STATUS "BUILDINFO.txt: ${SOURCE_COMMIT}; package timestamps: "
    "${SOURCE_DATE_EPOCH}, ${epoch_origin}")
endif()
