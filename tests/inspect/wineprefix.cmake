# Makes the Wine prefix the side-by-side suites read, once per build folder:
#   cmake -DPREFIX=<folder> -P wineprefix.cmake
# wineboot in a folder of its own, then renamed, so a half-made prefix is
# never taken for a whole one. Without Wine, nothing: the suites skip.
if(EXISTS "${PREFIX}/drive_c/windows/winsxs/manifests")
  return()
endif()
find_program(WINEBOOT wineboot)
find_program(WINESERVER wineserver PATHS /usr/lib/wine)
if(NOT WINEBOOT OR NOT WINESERVER)
  message(STATUS "no wineboot: no Wine prefix for the side-by-side suites")
  return()
endif()
set(scratch "${PREFIX}.making")
file(REMOVE_RECURSE "${scratch}")
set(env WINEPREFIX=${scratch} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${WINEBOOT} -i TIMEOUT 600 RESULT_VARIABLE status
                OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${WINESERVER} -k OUTPUT_QUIET ERROR_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} -E env ${env} ${WINESERVER} -w TIMEOUT 60 OUTPUT_QUIET ERROR_QUIET)
if(EXISTS "${scratch}/drive_c/windows/winsxs/manifests")
  file(REMOVE_RECURSE "${PREFIX}")
  file(RENAME "${scratch}" "${PREFIX}")
else()
  message(FATAL_ERROR "wineboot made no prefix in ${scratch} (status ${status})")
endif()
