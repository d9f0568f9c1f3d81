# Tests of the Windows cross build: GoogleTest built from source with the cross compiler,
# and every test run under Wine (the toolchain's CMAKE_CROSSCOMPILING_EMULATOR) in a
# prefix of its own inside the build folder. Included from tests/CMakeLists.txt.
#
# What it provides:
# - GTest::gtest, GTest::gmock, GTest::gtest_main (GTestFromSource.cmake);
# - the CTest fixture "wine": a setup test that creates or updates the prefix and starts
#   a lingering wineserver, and a cleanup test that stops it;
# - CX_TEST_PROPERTIES: test properties every test must carry (the fixture);
# - CX_WINE_ENVIRONMENT: the environment a Wine process of the tests runs with;
# - cx_wine_test_target(<target>): readies a test executable (prefix before discovery);
# - cx_emulated_tests(<test>...): puts the environment, the fixture and QUILLMARK_EMULATOR
#   (Wine, for scripts that run a built .exe) on tests that are not discovered.

include("${CMAKE_CURRENT_LIST_DIR}/GTestFromSource.cmake")

list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 QUILLMARK_WINE)
get_filename_component(wine_dir "${QUILLMARK_WINE}" DIRECTORY)
find_program(QUILLMARK_WINESERVER NAMES wineserver HINTS "${wine_dir}" /usr/lib/wine
             REQUIRED)
set(QUILLMARK_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")

# LC_ALL: under the C locale Wine mangles non-ASCII arguments before the program sees them.
set(CX_WINE_ENVIRONMENT
    "WINEPREFIX=${QUILLMARK_WINEPREFIX}" "WINEDEBUG=-all" "LC_ALL=C.UTF-8")

# Test executables made from here on run (at discovery and as tests) with that environment,
# through wine_run.sh: a run that Wine never started (it happens, silently, on a busy
# machine) is tried again, and one that never starts says so, never passing for a verdict.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_COMMAND}" -E env ${CX_WINE_ENVIRONMENT} bash
    "${PROJECT_SOURCE_DIR}/tests/e2e/wine_run.sh" "${QUILLMARK_WINE}")

set(wine_fixture_args
    "-DWINE=${QUILLMARK_WINE}" "-DWINESERVER=${QUILLMARK_WINESERVER}"
    "-DWINEPREFIX=${QUILLMARK_WINEPREFIX}" -P "${PROJECT_SOURCE_DIR}/cmake/WineFixture.cmake")

# The prefix exists before any test executable is run to list its cases.
add_custom_command(
  OUTPUT "${QUILLMARK_WINEPREFIX}/system.reg"
  COMMAND "${CMAKE_COMMAND}" -DACTION=create ${wine_fixture_args}
  COMMENT "Creating the Wine prefix for the tests"
  VERBATIM)
add_custom_target(cx_wine_prefix DEPENDS "${QUILLMARK_WINEPREFIX}/system.reg")

add_test(NAME wine.setup COMMAND "${CMAKE_COMMAND}" -DACTION=setup ${wine_fixture_args})
set_tests_properties(wine.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
add_test(NAME wine.cleanup COMMAND "${CMAKE_COMMAND}" -DACTION=cleanup ${wine_fixture_args})
set_tests_properties(wine.cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

set(CX_TEST_PROPERTIES FIXTURES_REQUIRED wine)

function(cx_wine_test_target target)
  add_dependencies(${target} cx_wine_prefix)
endfunction()

function(cx_emulated_tests)
  set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT
               ${CX_WINE_ENVIRONMENT} "QUILLMARK_EMULATOR=${QUILLMARK_WINE}")
  set_property(TEST ${ARGN} APPEND PROPERTY FIXTURES_REQUIRED wine)
endfunction()
