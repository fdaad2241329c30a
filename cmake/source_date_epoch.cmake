# The one time every date in the build and the packages comes from, in
# seconds since 1970: the environment's SOURCE_DATE_EPOCH; else the last
# commit's time, when the sources are git's own checkout (not a copy unpacked
# inside some other repository); else the newest changelog entry's date.
# Run as a script it prints that time:  cmake -D SOURCE_DIR=DIR -P THIS_FILE
if(NOT SOURCE_DIR)
  set(SOURCE_DIR ${PROJECT_SOURCE_DIR})
endif()
file(REAL_PATH "${SOURCE_DIR}" SOURCE_DIR)
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --show-toplevel --symbolic-full-name HEAD
                OUTPUT_VARIABLE git OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE not_git ERROR_QUIET)
if(NOT not_git AND git MATCHES "^([^\n]*)\n(.*)$" AND CMAKE_MATCH_1 STREQUAL SOURCE_DIR)
  set(ref ${CMAKE_MATCH_2})
  # A commit or a checkout changes HEAD, the branch it names or HEAD's log:
  # configure again then, and so date the build anew.
  execute_process(COMMAND git -C ${SOURCE_DIR} rev-parse --path-format=absolute --git-path HEAD
                          --git-path ${ref} --git-path logs/HEAD
                  OUTPUT_VARIABLE heads OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\n" ";" heads "${heads}")
  foreach(head ${heads})
    if(EXISTS "${head}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head}")
    endif()
  endforeach()
  if(epoch STREQUAL "")
    execute_process(COMMAND git -C ${SOURCE_DIR} log -1 --format=%ct OUTPUT_VARIABLE epoch
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()
if(epoch STREQUAL "")
  # The trailer line of the newest entry: " -- NAME <ADDRESS>  DATE".
  file(STRINGS ${SOURCE_DIR}/packaging/debian/changelog trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
  string(REGEX REPLACE "^ -- .*>  " "" date "${trailer}")
  execute_process(COMMAND date -u -d "${date}" +%s OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
if(NOT epoch MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${epoch}\", not a number of seconds since 1970")
endif()
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${epoch}")
  return()
endif()
set(PADCOLS_SOURCE_DATE_EPOCH ${epoch})
# string(TIMESTAMP) takes its time from the environment; cpack takes the
# build's date from this file once its build step has configured anew.
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
string(TIMESTAMP PADCOLS_SOURCE_DATE "%Y-%m-%d" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/source_date_epoch "${epoch}")
message(STATUS "SOURCE_DATE_EPOCH ${epoch} (${PADCOLS_SOURCE_DATE})")
