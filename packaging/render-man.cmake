# Renders a manual page as plain text for systems without man(1):
#   cmake -DGROFF=groff -DIN=page.1 -DOUT=page.txt [-DCRLF=ON] -P render-man.cmake
execute_process(
  COMMAND ${GROFF} -man -Tutf8 -P-cbou -rcR=1 -rHY=0 -ww ${IN}
  OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "groff on ${IN}: ${warnings}")
endif()
if(CRLF)
  string(REPLACE "\n" "\r\n" text "${text}")
endif()
file(WRITE ${OUT}.tmp "${text}")
file(RENAME ${OUT}.tmp ${OUT})
