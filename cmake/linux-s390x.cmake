# IBM Z Linux, big-endian (package g++-s390x-linux-gnu; the tests run under
# qemu-s390x from qemu-user).
set(PADCOLS_TARGET s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
