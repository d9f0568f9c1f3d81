# Shared by the Linux cross toolchains (aarch64-linux-gnu.cmake, s390x-linux-gnu.cmake):
# Debian's cross compiler for CROSS_TRIPLET, its sysroot /usr/<triplet>, and qemu-user to
# run what it builds on this machine. The including file sets CROSS_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)

set(cross_sysroot /usr/${CROSS_TRIPLET})
find_program(QUILLMARK_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR}-static
             PATHS /usr/bin NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUILLMARK_QEMU)
  message(FATAL_ERROR "qemu-${CMAKE_SYSTEM_PROCESSOR}-static not found "
                      "(Debian: apt-get install qemu-user-static)")
endif()
# Executables built here run on the build machine under qemu (try_run, test discovery,
# add_test with a target as its command). -L: the dynamic loader and the target's shared
# libraries come from the cross sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR "${QUILLMARK_QEMU}" -L "${cross_sysroot}")
# The processor model, where the including file names one (CROSS_QEMU_CPU).
if(CROSS_QEMU_CPU)
  list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -cpu ${CROSS_QEMU_CPU})
endif()

# Libraries and headers come from the sysroot only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH ${cross_sysroot})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
