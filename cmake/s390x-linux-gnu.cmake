# Cross build for 64-bit IBM Z Linux with Debian's g++-s390x-linux-gnu, tests run under
# qemu-s390x. Big-endian, so it is where a byte-order slip in the engine or the content
# record shows. Used by the s390x presets.
set(CROSS_TRIPLET s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")
