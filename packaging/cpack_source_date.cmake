# Read by cpack before it makes each package (CPACK_PROJECT_CONFIG_FILE):
# every date in the packages is the build's source date, which cpack's
# archive writer takes from the environment.
set(ENV{SOURCE_DATE_EPOCH} ${CPACK_PADCOLS_SOURCE_DATE_EPOCH})
