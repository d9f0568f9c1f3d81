# What is installed, and the three packages CPack makes of it (the package presets):
#   DEB  quillmark_<version>_<arch>.deb        /usr/bin, gzipped man pages, Debian's docs
#   TGZ  quillmark-<version>-linux-<cpu>.tar.gz  bin/, share/man/man1/, share/doc/quillmark/
#   ZIP  quillmark-<version>-win64.zip         quillmark.exe, quillsum.exe, README.txt,
#                                              LICENSE.txt
# Each package holds both programs, quillmark and quillsum, each with its man page.
# A plain `cmake --install` gives what the tarball holds. The packages carry no time of the
# build: dates come from SOURCE_DATE_EPOCH when it is set (CI sets it to the last
# commit's time), else from a fixed one. cpack runs with that time in SOURCE_DATE_EPOCH
# (CPackOptions.cmake), and stamps every archived file and the gzip headers with it.
include(GNUInstallDirs)

if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(QUILLMARK_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(QUILLMARK_SOURCE_DATE_EPOCH 1796083200)  # 2026-12-01 00:00:00 UTC
  # string(TIMESTAMP) reads it from the environment.
  set(ENV{SOURCE_DATE_EPOCH} "${QUILLMARK_SOURCE_DATE_EPOCH}")
endif()
string(TIMESTAMP QUILLMARK_MAN_DATE "%B %Y" UTC)
string(TIMESTAMP QUILLMARK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)

set(QUILLMARK_MAINTAINER "The quillmark authors <maintainers@users.noreply.c-seed-44fb6d01.example>")
set(gen "${PROJECT_BINARY_DIR}/package-files")
set(programs quillmark quillsum)
foreach(program IN LISTS programs)
  configure_file("${PROJECT_SOURCE_DIR}/${program}.1.in" "${gen}/${program}.1" @ONLY)
endforeach()
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Components, so that each package takes its own set (CPackOptions.cmake picks them):
#   program  the executables (every package)
#   manual   the man pages, plain (tarball)
#   doc      README and LICENSE (tarball; on Windows README.txt and LICENSE.txt, zip)
#   debian   the man pages and changelog gzipped with gzip -9n, and the machine-readable
#            copyright file, as Debian wants them (.deb only, never a plain install)
if(WIN32)
  # Notepad and the like want CR LF.
  foreach(doc README.md:README.txt LICENSE:LICENSE.txt)
    string(REPLACE ":" ";" doc "${doc}")
    list(GET doc 0 from)
    list(GET doc 1 to)
    file(READ "${PROJECT_SOURCE_DIR}/${from}" text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    set(old "")
    if(EXISTS "${gen}/${to}")
      file(READ "${gen}/${to}" old)
    endif()
    if(NOT old STREQUAL text)
      file(WRITE "${gen}/${to}" "${text}")
    endif()
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 "${PROJECT_SOURCE_DIR}/${from}")
  endforeach()
  install(TARGETS ${programs} RUNTIME DESTINATION . COMPONENT program)
  install(FILES "${gen}/README.txt" "${gen}/LICENSE.txt" DESTINATION . COMPONENT doc)
else()
  install(TARGETS ${programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  list(TRANSFORM programs APPEND .1 OUTPUT_VARIABLE pages)
  list(TRANSFORM pages PREPEND "${gen}/" OUTPUT_VARIABLE plain_pages)
  install(FILES ${plain_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manual)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT doc)

  configure_file("${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in" "${gen}/changelog" @ONLY)
  set(gzipped)
  foreach(file ${pages} changelog)
    add_custom_command(OUTPUT "${gen}/${file}.gz"
                       COMMAND gzip -9nkf "${gen}/${file}"
                       DEPENDS "${gen}/${file}" VERBATIM)
    list(APPEND gzipped "${gen}/${file}.gz")
  endforeach()
  add_custom_target(quillmark_debian_files ALL DEPENDS ${gzipped})
  list(TRANSFORM pages APPEND .gz OUTPUT_VARIABLE gzipped_pages)
  list(TRANSFORM gzipped_pages PREPEND "${gen}/")
  install(FILES ${gzipped_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES "${gen}/changelog.gz" "${PROJECT_SOURCE_DIR}/packaging/debian/copyright"
                README.md
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VENDOR "The quillmark authors")
set(CPACK_PACKAGE_CONTACT "${QUILLMARK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "print or check content identifiers of files")
set(CPACK_PACKAGE_DESCRIPTION
    "A content identifier is a single line that identifies a file's content: the\n"
    "file's length and its SHA-256 digest, as 80 hexadecimal digits. The same bytes\n"
    "always give the same line, whatever the file is called or where it is, so the\n"
    "line can name, compare and de-duplicate files.\n"
    "\n"
    "quillmark prints the identifier of one file. It writes nothing on standard\n"
    "error and tells each failure by its exit code.\n"
    "\n"
    "quillsum prints the identifiers of many files and whole trees, on all\n"
    "processors, in the line format of sha256sum, and checks files against such\n"
    "lists.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
if(WIN32)
  set(CPACK_SYSTEM_NAME win64)
else()
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" CPACK_SYSTEM_NAME)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Read by CPackOptions.cmake when cpack runs.
set(CPACK_QUILLMARK_BINARY_DIR "${PROJECT_BINARY_DIR}")
set(CPACK_QUILLMARK_SOURCE_DATE_EPOCH "${QUILLMARK_SOURCE_DATE_EPOCH}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/CPackOptions.cmake")
include(CPack)
