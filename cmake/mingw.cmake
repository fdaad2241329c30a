# Cross-compiles padcols.exe for Windows with Debian's mingw-w64, for the CPU
# that PADCOLS_MINGW names (the GNU triple, i686-w64-mingw32 or
# x86_64-w64-mingw32), which the preset's toolchain file sets together with
# CMAKE_SYSTEM_PROCESSOR. The tests run the result under Wine when it is
# installed: 64-bit Wine's loader started directly, since Debian's wine
# launcher starts the 32-bit loader first, which some kernels cannot run.
set(CMAKE_SYSTEM_NAME Windows)

# The posix-thread compilers by their full names, whichever variant the
# unsuffixed names point to: GoogleTest needs std::mutex, which the
# win32-thread variant does not have.
find_program(MINGW_CXX_POSIX ${PADCOLS_MINGW}-g++-posix)
find_program(MINGW_CC_POSIX ${PADCOLS_MINGW}-gcc-posix)
if(NOT MINGW_CXX_POSIX OR NOT MINGW_CC_POSIX)
  string(REGEX REPLACE "-.*" "" package_cpu ${PADCOLS_MINGW})
  string(REPLACE "_" "-" package_cpu ${package_cpu})
  message(FATAL_ERROR "${PADCOLS_MINGW}-g++-posix not found (apt-get install g++-mingw-w64-${package_cpu}-posix)")
endif()
set(CMAKE_C_COMPILER ${MINGW_CC_POSIX})
set(CMAKE_CXX_COMPILER ${MINGW_CXX_POSIX})
set(CMAKE_RC_COMPILER ${PADCOLS_MINGW}-windres)
# windres preprocesses the resource script with the unsuffixed gcc unless
# told otherwise.
set(CMAKE_RC_FLAGS_INIT "--preprocessor=${MINGW_CC_POSIX} --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED")
set(CMAKE_FIND_ROOT_PATH /usr/${PADCOLS_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the image needs nothing but the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s")

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(WINE_PROGRAM wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
else()
  find_program(WINE_PROGRAM wine)
endif()
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
