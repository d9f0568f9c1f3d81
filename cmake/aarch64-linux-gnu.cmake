# Cross build for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu, tests run under
# qemu-aarch64. Used by the aarch64 presets.
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")
