# quillmark_add_windows_resources(<target>): embeds src/app/quillmark.rc (the manifest:
# asInvoker, no uiAccess, UTF-8 active code page) into <target> on Windows builds. Does
# nothing elsewhere. Include this file at directory scope where <target> is defined.
if(WIN32)
  enable_language(RC)
endif()

function(quillmark_add_windows_resources target)
  if(NOT WIN32)
    return()
  endif()
  set(rc_file "${PROJECT_SOURCE_DIR}/src/app/quillmark.rc")
  # A library of its own, so that the target's C++ options (-Wall, -Werror, sanitizers)
  # never reach the resource compiler.
  add_library(${target}_resources OBJECT "${rc_file}")
  target_include_directories(${target}_resources PRIVATE "${PROJECT_SOURCE_DIR}/src/app")
  set_source_files_properties("${rc_file}" PROPERTIES
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/src/app/quillmark.manifest")
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_resources>)
endfunction()
