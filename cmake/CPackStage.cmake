# Run by cpack once the files are staged, before they are archived: every file and folder
# gets the time of SOURCE_DATE_EPOCH, so that the time of the build reaches no package.
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
execute_process(COMMAND touch -h -d "@${CPACK_QUILLMARK_SOURCE_DATE_EPOCH}"
                        "${CPACK_TEMPORARY_INSTALL_DIRECTORY}" ${staged}
                COMMAND_ERROR_IS_FATAL ANY)
