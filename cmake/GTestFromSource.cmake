# GoogleTest built from source with the cross compiler, for builds whose target has no
# GoogleTest package to find (Windows, the Linux cross builds). Included by WineTests.cmake
# and QemuTests.cmake; provides GTest::gtest, GTest::gmock and GTest::gtest_main.
set(QUILLMARK_GTEST_SOURCE_DIR "/usr/src/googletest"
    CACHE PATH "GoogleTest sources to build for the cross target")
if(NOT EXISTS "${QUILLMARK_GTEST_SOURCE_DIR}/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest sources in ${QUILLMARK_GTEST_SOURCE_DIR} "
                      "(Debian: apt-get install googletest)")
endif()
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(INSTALL_GMOCK OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
# SYSTEM: GoogleTest's headers must not trip our -Werror.
add_subdirectory("${QUILLMARK_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest"
                 EXCLUDE_FROM_ALL SYSTEM)
