# Run by cpack once it has made the packages (CPACK_POST_BUILD_SCRIPTS): each
# is rewritten to depend on nothing but what it holds (normalize_package.py).
execute_process(COMMAND ${CPACK_PADCOLS_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/normalize_package.py ${CPACK_PACKAGE_FILES}
                COMMAND_ERROR_IS_FATAL ANY)
