# OpenSSL's libcrypto, which reads and checks Authenticode signatures, as the
# target tavelin_crypto: natively the system's (libssl-dev); for the
# MinGW-w64 build a static libcrypto built once from Debian's openssl source
# package by scripts/cross-openssl.sh into the user's cache.
if(CMAKE_CROSSCOMPILING AND WIN32)
  set(TAVELIN_OPENSSL_ROOT "" CACHE PATH "Folder holding include/openssl and lib/libcrypto.a for the cross build (scripts/cross-openssl.sh)")
  if(NOT EXISTS "${TAVELIN_OPENSSL_ROOT}/lib/libcrypto.a")
    message(STATUS "libcrypto for MinGW-w64: scripts/cross-openssl.sh (about two minutes the first time)")
    execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/cross-openssl.sh
                    OUTPUT_VARIABLE root RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT status EQUAL 0 OR NOT EXISTS "${root}/lib/libcrypto.a")
      message(FATAL_ERROR "libcrypto for the cross build is missing: run scripts/cross-openssl.sh "
                          "(or set TAVELIN_OPENSSL_ROOT to a folder holding include/openssl and lib/libcrypto.a)")
    endif()
    set(TAVELIN_OPENSSL_ROOT "${root}" CACHE PATH "Folder holding include/openssl and lib/libcrypto.a for the cross build" FORCE)
  endif()
  add_library(tavelin_crypto STATIC IMPORTED GLOBAL)
  # Built without sockets or engines: the registry, the event log and the
  # random source (advapi32) and the message box of its error path (user32).
  set_target_properties(tavelin_crypto PROPERTIES
    IMPORTED_LOCATION "${TAVELIN_OPENSSL_ROOT}/lib/libcrypto.a"
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES "${TAVELIN_OPENSSL_ROOT}/include"
    INTERFACE_INCLUDE_DIRECTORIES "${TAVELIN_OPENSSL_ROOT}/include"
    INTERFACE_LINK_LIBRARIES "advapi32;user32")
else()
  find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)
  add_library(tavelin_crypto INTERFACE)
  target_link_libraries(tavelin_crypto INTERFACE OpenSSL::Crypto)
endif()
