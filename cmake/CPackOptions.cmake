# Read by cpack for each generator: which components go into which package, and the time
# the archives are stamped with. With SOURCE_DATE_EPOCH set, cpack gives every file in an
# archive that time and leaves it out of gzip headers; it is the configured time, so that
# the packages agree with the dates in the man page and the changelog.
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_QUILLMARK_SOURCE_DATE_EPOCH}")

if(CPACK_GENERATOR STREQUAL "DEB")
  set(components program debian)
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(components program doc)
else()
  set(components program manual doc)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS)
foreach(component IN LISTS components)
  list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_QUILLMARK_BINARY_DIR}" quillmark
       ${component} /)
endforeach()
