# What a Debian package of padcols needs besides the program: the manual page
# and the changelog compressed as Debian wants them (gzip -9n: no name, no
# time stamp), the copyright file in the machine-readable format with the
# licence's text, and the package's architecture and dependencies.

# The changelog's newest entry is this version.
file(STRINGS packaging/debian/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^padcols \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with \"${changelog_top}\", "
                      "not an entry for padcols ${PROJECT_VERSION}")
endif()

# The manual page names the project's version and is dated by the source
# date (cmake/source_date_epoch.cmake).
configure_file(doc/padcols.1.in padcols.1 @ONLY)

find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT padcols.1.gz
  COMMAND sh -c "'${GZIP_PROGRAM}' -9n < '${CMAKE_CURRENT_BINARY_DIR}/padcols.1' > padcols.1.gz"
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/padcols.1 VERBATIM)
add_custom_command(OUTPUT changelog.gz
  COMMAND sh -c "'${GZIP_PROGRAM}' -9n < '${PROJECT_SOURCE_DIR}/packaging/debian/changelog' > changelog.gz"
  DEPENDS packaging/debian/changelog VERBATIM)
add_custom_target(compressed_docs ALL DEPENDS padcols.1.gz changelog.gz)

# The licence's text after its copyright line, as a copyright file's
# License paragraph: each line indented by one space, empty lines as " .".
string(REGEX REPLACE "^Copyright \\([cC]\\) " "" PADCOLS_COPYRIGHT "${license_copyright}")
file(READ LICENSE license_text)
string(FIND "${license_text}" "${license_copyright}" at)
string(LENGTH "${license_copyright}" length)
math(EXPR at "${at} + ${length}")
string(SUBSTRING "${license_text}" ${at} -1 license_text)
string(STRIP "${license_text}" license_text)
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text "${license_text}")
set(PADCOLS_LICENSE_TEXT " ${license_text}")
configure_file(packaging/debian/copyright.in copyright @ONLY)

# dpkg-shlibdeps works the dependencies out from the binary. For a cross
# build it looks for the target's C library where the cross compiler has it;
# the shlibs file of Debian's libc6-<arch>-cross names the target's libc6.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(CMAKE_CROSSCOMPILING)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_FIND_ROOT_PATH}/lib)
  endif()
else()
  # Without dpkg-dev, the one library the binary links.
  message(WARNING "dpkg-shlibdeps not found (apt-get install dpkg-dev): the .deb depends on libc6 without a version")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS libc6)
endif()

# A cross build's package is for the target's Debian architecture, which
# dpkg-architecture names from the compiler's GNU triple.
if(CMAKE_CROSSCOMPILING)
  set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine
                  OUTPUT_VARIABLE triple OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND dpkg-architecture -t${triple} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    message(WARNING "dpkg-architecture cannot name the Debian architecture of ${triple} "
                    "(apt-get install dpkg-dev): cpack makes no .deb")
    set(CPACK_GENERATOR TGZ)
  endif()
endif()
