# Read by cpack before it makes each package (CPACK_PROJECT_CONFIG_FILE):
# every date in the packages is the sources' date, which cpack's archive
# writer takes from the environment. It is worked out again here rather than
# taken from the last configure: after a commit, cpack's own build step
# configures the build again (the manual page carries the date) before it
# packages, and the packages must carry that commit's date too. The mark
# tells that configure the date in its environment is not one a user set.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} OR DEFINED ENV{PADCOLS_SOURCE_DATE_FROM_CPACK})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=SOURCE_DATE_EPOCH
                          ${CMAKE_COMMAND} -D SOURCE_DIR=${CPACK_PADCOLS_SOURCE_DIR}
                          -P ${CPACK_PADCOLS_SOURCE_DIR}/cmake/source_date_epoch.cmake
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  set(ENV{PADCOLS_SOURCE_DATE_FROM_CPACK} 1)
endif()
