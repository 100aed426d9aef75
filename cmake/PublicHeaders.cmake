# nvo_stage_public_headers(<out-var> SOURCE_DIR <dir> SOURCE_PREFIX <prefix> DESTINATION <dir>
#                          HEADERS <file>...)
# Copies a library's public headers into DESTINATION (a folder of the build tree that mirrors
# the installed include/<name>/ folder), rewriting `#include "<prefix>/x.h"` to `#include "x.h"`
# so that the headers include each other by file name as installed. Each header is written
# through a copy, so an unchanged one keeps its time stamp; the copies are re-made whenever a
# source header changes. <out-var> receives the staged paths, for install(FILES).
function(nvo_stage_public_headers out_var)
  cmake_parse_arguments(H "" "SOURCE_DIR;SOURCE_PREFIX;DESTINATION" "HEADERS" ${ARGN})
  set(_staged)
  foreach(header IN LISTS H_HEADERS)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${H_SOURCE_DIR}/${header})
    file(READ ${H_SOURCE_DIR}/${header} _text)
    string(REPLACE "#include \"${H_SOURCE_PREFIX}/" "#include \"" _text "${_text}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/staged-headers/${header} "${_text}")
    configure_file(${CMAKE_CURRENT_BINARY_DIR}/staged-headers/${header}
                   ${H_DESTINATION}/${header} COPYONLY)
    list(APPEND _staged ${H_DESTINATION}/${header})
  endforeach()
  set(${out_var} ${_staged} PARENT_SCOPE)
endfunction()
