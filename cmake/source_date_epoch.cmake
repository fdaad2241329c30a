# The one time every date in the build and the packages comes from, in
# seconds since 1970 (the SOURCE_DATE_EPOCH convention): the environment's
# SOURCE_DATE_EPOCH when it is set; otherwise, in a git checkout of the
# sources, the time of the last commit; otherwise the date of the newest entry
# in packaging/debian/changelog. Two builds of one commit so get the same
# dates, wherever and whenever they run.
#
# Included by the project, it sets PADCOLS_SOURCE_DATE_EPOCH and reconfigures
# when HEAD moves. Run as a script, it prints the time for the sources in
# SOURCE_DIR:  cmake -D SOURCE_DIR=DIR -P cmake/source_date_epoch.cmake

function(padcols_source_date_epoch source_dir out_var)
  # Only git's own checkout of these sources: a copy unpacked inside some
  # other repository has no commit of its own. Whichever way the date comes,
  # a checkout's HEAD log is named, so that a commit configures again.
  set(checkout FALSE)
  find_program(GIT_PROGRAM git)
  if(GIT_PROGRAM)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${source_dir} rev-parse --show-toplevel
                    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(NOT failed)
      file(REAL_PATH "${top}" top)
      file(REAL_PATH "${source_dir}" source)
      if(top STREQUAL source)
        set(checkout TRUE)
        execute_process(COMMAND ${GIT_PROGRAM} -C ${source_dir} rev-parse --absolute-git-dir
                        OUTPUT_VARIABLE git_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
        set(PADCOLS_GIT_HEAD_LOG "${git_dir}/logs/HEAD" PARENT_SCOPE)
      endif()
    endif()
  endif()
  # The environment's date, unless cpack put it there (see
  # packaging/cpack_source_date.cmake) for the configure its build step runs:
  # that is the sources' own date, worked out below all the same.
  if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT DEFINED ENV{PADCOLS_SOURCE_DATE_FROM_CPACK})
    set(${out_var} "$ENV{SOURCE_DATE_EPOCH}" PARENT_SCOPE)
    return()
  endif()
  if(checkout)
    execute_process(COMMAND ${GIT_PROGRAM} -C ${source_dir} log -1 --format=%ct
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE)
    set(${out_var} "${epoch}" PARENT_SCOPE)
    return()
  endif()
  # The trailer line of the newest entry: " -- NAME <ADDRESS>  DATE".
  file(STRINGS ${source_dir}/packaging/debian/changelog trailer REGEX "^ -- .*>  " LIMIT_COUNT 1)
  string(REGEX REPLACE "^ -- .*>  " "" date "${trailer}")
  execute_process(COMMAND date -u -d "${date}" +%s
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR NOT epoch)
    message(FATAL_ERROR "cannot read a date from \"${trailer}\" in packaging/debian/changelog")
  endif()
  set(${out_var} "${epoch}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  padcols_source_date_epoch("${SOURCE_DIR}" epoch)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${epoch}")
  return()
endif()

padcols_source_date_epoch(${PROJECT_SOURCE_DIR} PADCOLS_SOURCE_DATE_EPOCH)
if(NOT PADCOLS_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"${PADCOLS_SOURCE_DATE_EPOCH}\", not a number of seconds")
endif()
# A new commit or checkout changes the time: configure again then, so that a
# build folder never packages one commit with another's dates.
if(PADCOLS_GIT_HEAD_LOG AND EXISTS "${PADCOLS_GIT_HEAD_LOG}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PADCOLS_GIT_HEAD_LOG}")
endif()
# string(TIMESTAMP) takes its time from the environment's SOURCE_DATE_EPOCH.
set(ENV{SOURCE_DATE_EPOCH} ${PADCOLS_SOURCE_DATE_EPOCH})
string(TIMESTAMP PADCOLS_SOURCE_DATE "%Y-%m-%d" UTC)
message(STATUS "SOURCE_DATE_EPOCH ${PADCOLS_SOURCE_DATE_EPOCH} (${PADCOLS_SOURCE_DATE})")
