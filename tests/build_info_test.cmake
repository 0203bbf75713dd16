# The build information script: a given revision and SOURCE_DATE_EPOCH, a tree inside another's
# git work tree, and a revision that is not one. Run with -DSCRIPT, -DINPUT and -DWORK.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(generate env revision)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=SOURCE_DATE_EPOCH ${env} ${CMAKE_COMMAND}
            -DINPUT=${INPUT} -DOUTPUT=${WORK}/build_info.h -DSOURCE_DIR=${WORK} -DGIT=git
            -DREVISION=${revision} -DVERSION=1.2.3 -DSCHEMA=123456789 -P ${SCRIPT}
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  set(header "")
  if(result EQUAL 0)
    file(READ "${WORK}/build_info.h" header)
    file(REMOVE "${WORK}/build_info.h")
  endif()
  set(header "${header}" PARENT_SCOPE)
endfunction()

function(expect header pattern)
  if(NOT header MATCHES "${pattern}")
    message(FATAL_ERROR "Expected '${pattern}' in:\n${header}")
  endif()
endfunction()

generate(SOURCE_DATE_EPOCH=1000000000 ABCDEF0123456789)
expect("${header}" "#define KORV_REVISION \"abcdef0\"\n")
expect("${header}" "#define KORV_BUILT_ON \"Sep  9 2001 01:46:40\"\n")
expect("${header}" "#define KORV_VERSION \"1.2.3\"\n#define KORV_REVISION")

generate(SOURCE_DATE_EPOCH=1700000000 "")
expect("${header}" "#define KORV_REVISION \"0000000\"\n")
expect("${header}" "#define KORV_BUILT_ON \"Nov 14 2023 22:13:20\"\n")

generate(NO_EPOCH=1 "")
if(header MATCHES "KORV_BUILT_ON")
  message(FATAL_ERROR "A build time without SOURCE_DATE_EPOCH:\n${header}")
endif()

foreach(refused "SOURCE_DATE_EPOCH=1000000000;abc" "SOURCE_DATE_EPOCH=yesterday;abcdef0")
  list(GET refused 0 env)
  list(GET refused 1 revision)
  generate(${env} ${revision})
  if(NOT header STREQUAL "")
    message(FATAL_ERROR "Generated for ${refused}:\n${header}")
  endif()
endforeach()
