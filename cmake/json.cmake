# nlohmann/json (header-only, nlohmann-json3-dev) as the target tavelin_json.
# Its include folder is one of the build tree holding nothing but a link to
# the system's nlohmann folder, so that the MinGW-w64 build reads those
# headers without the rest of /usr/include (glibc's headers would shadow
# MinGW's own).
set(TAVELIN_NLOHMANN_DIR "/usr/include/nlohmann" CACHE PATH "Folder holding nlohmann/json's json.hpp")
if(NOT EXISTS "${TAVELIN_NLOHMANN_DIR}/json.hpp")
  message(FATAL_ERROR "nlohmann/json not found in ${TAVELIN_NLOHMANN_DIR} (install nlohmann-json3-dev, "
                      "or set TAVELIN_NLOHMANN_DIR)")
endif()
set(TAVELIN_JSON_INCLUDE "${CMAKE_BINARY_DIR}/json-include")
file(MAKE_DIRECTORY "${TAVELIN_JSON_INCLUDE}")
file(CREATE_LINK "${TAVELIN_NLOHMANN_DIR}" "${TAVELIN_JSON_INCLUDE}/nlohmann" SYMBOLIC)
add_library(tavelin_json INTERFACE)
target_include_directories(tavelin_json SYSTEM INTERFACE "${TAVELIN_JSON_INCLUDE}")
