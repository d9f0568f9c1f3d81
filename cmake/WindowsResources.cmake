# quillmark_add_windows_resources(<target> <description> <assembly>): embeds
# src/app/quillmark.rc (the manifest:
# asInvoker, no uiAccess, UTF-8 active code page, long paths; and the version resource)
# into <target> on Windows builds. Both files are configured with the project's version
# first. Does nothing elsewhere. Include this file at directory scope where <target> is
# defined.
if(WIN32)
  enable_language(RC)
endif()

function(quillmark_add_windows_resources target description assembly)
  if(NOT WIN32)
    return()
  endif()
  # The manifest wants four parts.
  set(QUILLMARK_VERSION_QUAD "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
  set(QUILLMARK_EXE_NAME "${target}")
  set(QUILLMARK_EXE_DESCRIPTION "${description}")
  set(QUILLMARK_ASSEMBLY_NAME "${assembly}")
  set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/resources/${target}")
  configure_file("${PROJECT_SOURCE_DIR}/src/app/quillmark.manifest"
                 "${out_dir}/${target}.manifest" @ONLY)
  configure_file("${PROJECT_SOURCE_DIR}/src/app/quillmark.rc" "${out_dir}/${target}.rc" @ONLY)
  # A library of its own, so that the target's C++ options (-Wall, -Werror, sanitizers)
  # never reach the resource compiler.
  add_library(${target}_resources OBJECT "${out_dir}/${target}.rc")
  target_include_directories(${target}_resources PRIVATE "${out_dir}")
  set_source_files_properties("${out_dir}/${target}.rc" PROPERTIES
    OBJECT_DEPENDS "${out_dir}/${target}.manifest")
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_resources>)
endfunction()
