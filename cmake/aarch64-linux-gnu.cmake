# Cross build for 64-bit Arm Linux with Debian's g++-aarch64-linux-gnu, tests run under
# qemu-aarch64. Used by the aarch64 presets.
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
# A processor model with the SHA2 instructions, so that quillsum's digest takes them (its
# tests hold the portable rounds to the same results separately).
set(CROSS_QEMU_CPU max)
include("${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake")
