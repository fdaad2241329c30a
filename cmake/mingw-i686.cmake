# Cross-compiles padcols.exe for 32-bit x86 Windows with Debian's mingw-w64
# (package g++-mingw-w64-i686-posix). The tests run the result under Wine when
# it is installed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The posix-thread compilers, whichever variant the unsuffixed names point to:
# GoogleTest needs std::mutex, which the win32-thread variant (the default
# when both come with g++-mingw-w64-i686) does not have.
find_program(MINGW_CXX_POSIX i686-w64-mingw32-g++-posix)
find_program(MINGW_CC_POSIX i686-w64-mingw32-gcc-posix)
if(MINGW_CXX_POSIX AND MINGW_CC_POSIX)
  set(CMAKE_C_COMPILER ${MINGW_CC_POSIX})
  set(CMAKE_CXX_COMPILER ${MINGW_CXX_POSIX})
  # windres preprocesses the resource script with i686-w64-mingw32-gcc
  # unless told otherwise.
  set(CMAKE_RC_FLAGS_INIT "--preprocessor=${MINGW_CC_POSIX} --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED")
else()
  message(WARNING "i686-w64-mingw32-g++-posix not found (apt-get install g++-mingw-w64-i686-posix); "
                  "with the win32-thread compiler the unit tests do not build")
  set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
  set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
endif()
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything static: the image needs nothing but the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s")

find_program(WINE_PROGRAM wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
