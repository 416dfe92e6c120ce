# pugixml, the XML parser of side-by-side manifests, as the target
# tavelin_pugixml: natively the system's (libpugixml-dev, its static library
# so the programs need nothing more at run time); for the MinGW-w64 build its
# Debian source package, fetched once by scripts/cross-pugixml.sh into the
# user's cache and compiled in.
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(TAVELIN_PUGIXML_SOURCE "" CACHE PATH "Folder holding pugixml.cpp for the cross build (scripts/cross-pugixml.sh)")
  if(NOT EXISTS "${TAVELIN_PUGIXML_SOURCE}/pugixml.cpp")
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/cross-pugixml.sh
                    OUTPUT_VARIABLE source RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT status EQUAL 0 OR NOT EXISTS "${source}/pugixml.cpp")
      message(FATAL_ERROR "pugixml's source for the cross build is missing: run scripts/cross-pugixml.sh "
                          "(or set TAVELIN_PUGIXML_SOURCE to a folder holding pugixml.cpp)")
    endif()
    set(TAVELIN_PUGIXML_SOURCE "${source}" CACHE PATH "Folder holding pugixml.cpp for the cross build" FORCE)
  endif()
  add_library(tavelin_pugixml STATIC ${TAVELIN_PUGIXML_SOURCE}/pugixml.cpp)
  target_include_directories(tavelin_pugixml SYSTEM PUBLIC ${TAVELIN_PUGIXML_SOURCE})
else()
  find_package(pugixml REQUIRED)
  add_library(tavelin_pugixml INTERFACE)
  if(TARGET pugixml::static)
    target_link_libraries(tavelin_pugixml INTERFACE pugixml::static)
  else()
    target_link_libraries(tavelin_pugixml INTERFACE pugixml::pugixml)
  endif()
endif()
