# Makes the Windows package (cmake -P): a folder holding the programs, the Qt
# DLLs, the plugins the window loads and the MinGW runtime, zipped.
#   ZIP      the zip to write; its name without ".zip" names the folder inside
#   FILES    files for the folder itself (;-list)
#   PLUGINS  plugins as folder=path (;-list), e.g. platforms=/x/qwindows.dll
#   STRIP    the toolchain's strip, when given: the copies lose their debug
#            sections (Debian's MinGW runtime DLLs carry them: libstdc++ 23 MB)
get_filename_component(stage_root "${ZIP}" DIRECTORY)
get_filename_component(name "${ZIP}" NAME_WLE)
set(stage_root "${stage_root}/package-${name}")
set(stage "${stage_root}/${name}")
file(REMOVE_RECURSE "${stage_root}")
file(MAKE_DIRECTORY "${stage}")

foreach(f IN LISTS FILES)
  if(NOT EXISTS "${f}")
    message(FATAL_ERROR "win64 package: ${f} is missing")
  endif()
  file(COPY "${f}" DESTINATION "${stage}")
endforeach()
foreach(p IN LISTS PLUGINS)
  string(REPLACE "=" ";" pair "${p}")
  list(GET pair 0 kind)
  list(GET pair 1 file)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "win64 package: plugin ${file} is missing")
  endif()
  file(COPY "${file}" DESTINATION "${stage}/${kind}")
endforeach()

if(STRIP)
  file(GLOB_RECURSE binaries "${stage}/*.exe" "${stage}/*.dll")
  foreach(f IN LISTS binaries)
    execute_process(COMMAND "${STRIP}" --strip-debug "${f}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "win64 package: cannot strip ${f}")
    endif()
  endforeach()
endif()

# Written beside the final name, then renamed: never a half-written zip.
file(REMOVE "${ZIP}.part")
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf "${ZIP}.part" --format=zip "${name}"
                WORKING_DIRECTORY "${stage_root}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE "${ZIP}.part")
  message(FATAL_ERROR "win64 package: zip failed")
endif()
file(RENAME "${ZIP}.part" "${ZIP}")
