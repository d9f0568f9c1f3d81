# With QUILLMARK_HARDENING, everything is built with the flags Debian builds its packages
# with: stack protector, _FORTIFY_SOURCE, format checks, RELRO and immediate binding, and a
# file prefix map that keeps the source folder out of the binary. dpkg-buildflags gives
# them, so they follow Debian's policy rather than a copy of it. Optimisation and debug
# information stay the build type's: the packaged binary is stripped anyway.
if(NOT QUILLMARK_HARDENING)
  return()
endif()

find_program(QUILLMARK_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT QUILLMARK_DPKG_BUILDFLAGS)
  message(FATAL_ERROR "QUILLMARK_HARDENING needs dpkg-buildflags (Debian: dpkg-dev)")
endif()

set(quillmark_hardening_flags)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  # hardening=+all adds bind-now to the default set. The prefix map is made for the
  # current directory, so dpkg-buildflags runs in the source folder.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${QUILLMARK_DPKG_BUILDFLAGS} --get ${kind}
    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g|O)")
  if(kind STREQUAL "LDFLAGS")
    add_link_options(${flags})
  else()
    # Only C++: the Windows resource compiler would not know them.
    list(TRANSFORM flags REPLACE "^(.+)$" "$<$<COMPILE_LANGUAGE:CXX>:\\1>" OUTPUT_VARIABLE cxx_only)
    add_compile_options(${cxx_only})
  endif()
  list(APPEND quillmark_hardening_flags ${flags})
endforeach()
list(JOIN quillmark_hardening_flags " " quillmark_hardening_flags)
message(STATUS "Hardening flags: ${quillmark_hardening_flags}")
