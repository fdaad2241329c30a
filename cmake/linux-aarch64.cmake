# 64-bit ARM Linux, little-endian (package g++-aarch64-linux-gnu; the tests
# run under qemu-aarch64 from qemu-user).
set(PADCOLS_TARGET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
