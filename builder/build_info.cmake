# Writes build_info.h with the version and the commit of the sources
# ("git describe"), and rewrites it only when the text changes, so that a
# build without changes stays a build without changes.
# Called as: cmake -DSOURCE_DIR=... -DOUTPUT=... -DVERSION=... -P build_info.cmake
execute_process(COMMAND git describe --always --dirty --tags
                WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE describe
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE failed)
if(failed OR describe STREQUAL "")
  set(describe "unknown commit")
else()
  set(describe "git ${describe}")
endif()
set(text "#define OSTREL_VERSION \"${VERSION}\"\n#define OSTREL_BUILD_ID \"${describe}\"\n")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL text)
  file(WRITE ${OUTPUT} "${text}")
endif()
