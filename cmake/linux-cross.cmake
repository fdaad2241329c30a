# Cross-compiles padcols for Linux on another CPU with Debian's cross
# compilers, named after PADCOLS_TARGET (the GNU triple, such as
# aarch64-linux-gnu), which the preset's toolchain file sets together with
# CMAKE_SYSTEM_PROCESSOR. The tests run the result under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${PADCOLS_TARGET}-gcc)
set(CMAKE_CXX_COMPILER ${PADCOLS_TARGET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${PADCOLS_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The binary is linked dynamically, as the .deb ships it; qemu takes the
# target's loader and C library from the cross compiler's folder.
find_program(QEMU_PROGRAM qemu-${CMAKE_SYSTEM_PROCESSOR})
if(QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QEMU_PROGRAM} -L /usr/${PADCOLS_TARGET})
endif()
