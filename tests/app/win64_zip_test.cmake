# The Windows package on its own (cmake -P): unpacked into an empty folder, it
# holds exactly its files; its own tavelin-report finds every DLL that its
# programs and plugins load; and tavelin.exe, started with nothing but Wine
# around it, shows its window, which then closes.
#   ZIP, WORK, WINE, STARTER
# The package holds the "windows" platform plugin only, as a Windows machine
# needs: without a display, Wine gets a virtual one (xvfb-run).
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf "${ZIP}" WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cannot unpack ${ZIP}")
endif()
get_filename_component(name "${ZIP}" NAME_WLE)
set(dir "${WORK}/${name}")

file(GLOB_RECURSE content RELATIVE "${dir}" "${dir}/*")
list(SORT content)
set(expected Qt6Core.dll Qt6Gui.dll Qt6PrintSupport.dll Qt6Widgets.dll
    libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll
    platforms/qwindows.dll styles/qwindowsvistastyle.dll tavelin-report.exe tavelin.exe
    translations/qtbase_fr.qm)
list(SORT expected)
if(NOT content STREQUAL expected)
  message(FATAL_ERROR "package content:\n  ${content}\nexpected:\n  ${expected}")
endif()

# Nothing from the build may help: no WINEPATH, no platform chosen.
set(clean ${CMAKE_COMMAND} -E env --unset=WINEPATH --unset=QT_QPA_PLATFORM --unset=QT_PLUGIN_PATH)

# From inside the folder, as a user would start it: plugins are searched
# beside the program that loads them.
execute_process(COMMAND ${clean} ${WINE} tavelin-report.exe -r tavelin.exe "platforms\\qwindows.dll"
                        "styles\\qwindowsvistastyle.dll"
                WORKING_DIRECTORY "${dir}" RESULT_VARIABLE rc OUTPUT_VARIABLE report ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the package's closure is not whole (${rc}):\n${report}${err}")
endif()

# The Wine session the report above started has no display, and a window
# opened within it would never show: the server ends first.
get_filename_component(wine_dir "${WINE}" DIRECTORY)
find_program(WINESERVER NAMES wineserver64 wineserver PATHS "${wine_dir}" REQUIRED)
execute_process(COMMAND ${WINESERVER} -k)
execute_process(COMMAND ${WINESERVER} -w)

set(display "")
if("$ENV{DISPLAY}" STREQUAL "")
  find_program(XVFB_RUN xvfb-run REQUIRED)
  set(display ${XVFB_RUN} -a)
endif()
execute_process(COMMAND ${clean} ${display} ${WINE} "${STARTER}" "Z:${dir}/tavelin.exe"
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "tavelin.exe from the package: ${rc}")
endif()
if(NOT out MATCHES "client area 610 x 389")
  message(FATAL_ERROR "the window does not have its designed size")
endif()
file(REMOVE_RECURSE "${WORK}")
