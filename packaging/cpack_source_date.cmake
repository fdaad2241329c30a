# Run by cpack before it writes the packages, once its build step has
# configured the build anew where a commit asked for it: every date in them
# is the build's source date, which cpack's archive writer takes from the
# environment.
file(READ ${CPACK_PADCOLS_BINARY_DIR}/source_date_epoch epoch)
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
