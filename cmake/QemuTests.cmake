# Tests of the Linux cross builds: GoogleTest built from source with the cross compiler,
# and every test run under qemu-user (the toolchain's CMAKE_CROSSCOMPILING_EMULATOR).
# Included from tests/CMakeLists.txt; provides the same hooks as WineTests.cmake:
# - GTest::gtest, GTest::gmock, GTest::gtest_main (GTestFromSource.cmake);
# - CX_TEST_PROPERTIES: QUILLMARK_NO_SELF_EXEC in every test's environment (on aarch64,
#   QUILLMARK_PROCESSOR_HAS_SHA too, below), for the cases that would start their own
#   executable again (a threadsafe death test): a process under qemu-user can only
#   start programs the build machine's kernel can run;
# - cx_wine_test_target(<target>): nothing to do without Wine;
# - cx_emulated_tests(<test>...): puts QUILLMARK_EMULATOR (qemu with its sysroot, for
#   scripts that run a built executable) on tests that are not discovered.

include("${CMAKE_CURRENT_LIST_DIR}/GTestFromSource.cmake")

set(CX_TEST_PROPERTIES ENVIRONMENT QUILLMARK_NO_SELF_EXEC=1)
# The emulated processor model has the SHA instructions (-cpu max on aarch64): the digest's
# test then requires them in use. qemu-user shows the build machine's /proc/cpuinfo, which
# cannot tell.
if(CROSS_QEMU_CPU STREQUAL "max" AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
  list(APPEND CX_TEST_PROPERTIES ENVIRONMENT_MODIFICATION QUILLMARK_PROCESSOR_HAS_SHA=set:1)
endif()
function(cx_wine_test_target target)
endfunction()

# The scripts put the emulator before the executable unquoted, so its words split again.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " QUILLMARK_EMULATOR)
function(cx_emulated_tests)
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT "QUILLMARK_EMULATOR=${QUILLMARK_EMULATOR}")
endfunction()
