# The Wine prefix the Windows tests run in, driven as a CMake script:
#   cmake -DACTION=<create|setup|cleanup> -DWINE=<wine64> -DWINESERVER=<wineserver>
#         -DWINEPREFIX=<dir> -P WineFixture.cmake
# create:  make the prefix if it is missing (at build time, so that test discovery never
#          meets Wine's first run); its first-run chatter lands here, not in a test.
# setup:   bring the prefix up to date and start one wineserver that outlives every test
#          process, so that each Wine process starts in well under a second.
# cleanup: stop that server.
cmake_minimum_required(VERSION 3.25)

foreach(var ACTION WINE WINESERVER WINEPREFIX)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "WineFixture.cmake needs -D${var}=...")
  endif()
endforeach()

set(ENV{WINEPREFIX} "${WINEPREFIX}")
set(ENV{WINEDEBUG} "-all")
set(ENV{LC_ALL} "C.UTF-8")
# No window may open and no desktop integration is wanted in a test prefix.
set(ENV{WINEDLLOVERRIDES} "winemenubuilder.exe=d")
unset(ENV{DISPLAY})

# How long the server stays up once its last client is gone. Longer than any gap between
# two tests, but bounded, so that a run stopped before its cleanup leaves nothing behind.
set(server_linger 120)

# Wine's own processes (the server, services.exe, winedevice.exe) keep every descriptor
# they inherit for as long as they live, which is the whole test run here. Anything they
# could inherit is therefore a file, never the pipe CTest reads: CTest would wait for that
# pipe to close until the test timed out.
set(boot_log "${WINEPREFIX}.log")

# A server still serving a prefix that was removed and made anew at the same place can
# fail the first boot (kernel32.dll not found); it is stopped and the boot tried once more.
function(wine_boot)
  foreach(attempt RANGE 1 2)
    execute_process(COMMAND "${WINE}" wineboot --init
                    INPUT_FILE /dev/null OUTPUT_FILE "${boot_log}" ERROR_FILE "${boot_log}"
                    RESULT_VARIABLE rc TIMEOUT 300)
    file(READ "${boot_log}" log)
    if(NOT log STREQUAL "")
      message("${log}")
    endif()
    if(rc EQUAL 0)
      return()
    endif()
    execute_process(COMMAND "${WINESERVER}" -k RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND "${WINESERVER}" -w TIMEOUT 5 RESULT_VARIABLE ignored)
  endforeach()
  message(FATAL_ERROR "wineboot --init failed: ${rc}")
endfunction()

# Starts the lingering server; a server that is still winding down from earlier processes
# (build-time test discovery, say) is waited for first, and killed if it will not go.
function(start_server)
  foreach(attempt RANGE 1 3)
    execute_process(COMMAND "${WINESERVER}" -p${server_linger}
                    INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null
                    RESULT_VARIABLE rc)
    if(rc EQUAL 0)
      return()
    endif()
    if(attempt EQUAL 1)
      execute_process(COMMAND "${WINESERVER}" -w TIMEOUT 5 RESULT_VARIABLE ignored)
    else()
      execute_process(COMMAND "${WINESERVER}" -k RESULT_VARIABLE ignored
                      OUTPUT_QUIET ERROR_QUIET)
      execute_process(COMMAND "${WINESERVER}" -w TIMEOUT 5 RESULT_VARIABLE ignored)
    endif()
  endforeach()
  message(FATAL_ERROR "could not start a wineserver for ${WINEPREFIX}")
endfunction()

if(ACTION STREQUAL "create")
  if(NOT EXISTS "${WINEPREFIX}/system.reg")
    file(MAKE_DIRECTORY "${WINEPREFIX}")
    wine_boot()
  endif()
elseif(ACTION STREQUAL "setup")
  file(MAKE_DIRECTORY "${WINEPREFIX}")
  start_server()
  wine_boot()
elseif(ACTION STREQUAL "cleanup")
  # Exit code 1 only means that no server was running.
  execute_process(COMMAND "${WINESERVER}" -k RESULT_VARIABLE ignored OUTPUT_QUIET ERROR_QUIET)
else()
  message(FATAL_ERROR "unknown ACTION '${ACTION}'")
endif()
