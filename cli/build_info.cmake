# Writes the build information header of the version banner; run at every build with cmake -P.
# The header is rewritten only when its content changes, so an unchanged build compiles nothing.
#
#   -DINPUT=build_info.h.in -DOUTPUT=build_info.h -DSOURCE_DIR=... -DGIT=git
#   -DREVISION=...  (the revision to show, for sources outside git; empty for the git revision)
#   -DVERSION=... -DSCHEMA=...
#
# The revision is exactly seven lower-case hexadecimal digits: REVISION when given, else that of
# the git work tree whose top is SOURCE_DIR, else "0000000". The build time is the compiler's,
# unless SOURCE_DATE_EPOCH is set: then that time (UTC), in the same form, so that two builds of
# one revision can be identical.

set(revision "")
if(NOT REVISION STREQUAL "")
  set(revision "${REVISION}")
elseif(GIT)
  execute_process(
    COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --show-toplevel HEAD
    OUTPUT_VARIABLE git_output
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE git_result)
  # Only the sources' own work tree counts, not one that happens to contain them.
  if(git_result EQUAL 0 AND git_output MATCHES "^([^\n]*)\n([0-9a-f]+)$")
    set(top "${CMAKE_MATCH_1}")
    set(head "${CMAKE_MATCH_2}")
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    if(top STREQUAL source)
      set(revision "${head}")
    endif()
  endif()
endif()
if(revision STREQUAL "")
  set(revision "0000000")
endif()
if(NOT revision MATCHES "^[0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F][0-9a-fA-F]")
  message(FATAL_ERROR "The revision must start with seven hexadecimal digits: '${revision}'")
endif()
string(SUBSTRING "${revision}" 0 7 KORV_REVISION)
string(TOLOWER "${KORV_REVISION}" KORV_REVISION)

set(KORV_BUILT_ON_DEFINE "")
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a whole number of seconds: '$ENV{SOURCE_DATE_EPOCH}'")
  endif()
  # string(TIMESTAMP) takes SOURCE_DATE_EPOCH as the current time. The day is padded with a
  # blank, as the compiler's __DATE__ is.
  string(TIMESTAMP built "%b %d %Y %H:%M:%S" UTC)
  string(REGEX REPLACE "^([A-Z][a-z][a-z]) 0" "\\1  " built "${built}")
  set(KORV_BUILT_ON_DEFINE "#define KORV_BUILT_ON \"${built}\"")
endif()

set(PROJECT_VERSION "${VERSION}")
set(KORV_SCHEMA_VERSION "${SCHEMA}")
configure_file("${INPUT}" "${OUTPUT}" @ONLY)
