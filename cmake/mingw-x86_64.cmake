# padcols.exe for 64-bit x86 Windows (package g++-mingw-w64-x86-64-posix; the
# tests run it under 64-bit Wine, package wine64).
set(PADCOLS_MINGW x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
