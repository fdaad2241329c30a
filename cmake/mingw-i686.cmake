# padcols.exe for 32-bit x86 Windows (package g++-mingw-w64-i686-posix; the
# tests run it under 32-bit Wine, package wine32:i386).
set(PADCOLS_MINGW i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
